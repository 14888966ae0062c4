// "启动游戏" with a real JVM: a small game compiled here runs until the test lets it end, and the
// launch button follows it: busy texts, "运行中 · 点击关闭", and back.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { writeFileSync, readFileSync, existsSync, rmSync } from 'node:fs';
import { join } from 'node:path';
import { withSession, TempHome, JDK, waitUntil, prepareGameHome, serve, artifact } from './harness.mjs';

// A game that runs until `untilFile` exists.
const prepareHome = (home, untilFile) => prepareGameHome(home, `public class Game { public static void main(String[] args) throws Exception {
    while (!java.nio.file.Files.exists(java.nio.file.Paths.get(args[args.length - 1]))) Thread.sleep(20); } }`, '--until ' + untilFile);

// Every text the launch button and the launch panel show is kept.
const keepButtonTexts = (context) => context.addInitScript(() => document.addEventListener('DOMContentLoaded', () => {
  const [button, status] = [document.getElementById('launchBtn'), document.getElementById('launchStatus')];
  if (!button) return;  // the registration frame
  window.__buttonTexts = [button.textContent];
  window.__statusTexts = [];
  const keep = (element, texts) => new MutationObserver(() => texts.at(-1) !== element.textContent && texts.push(element.textContent))
    .observe(element, { childList: true, characterData: true, subtree: true });
  keep(button, window.__buttonTexts);
  keep(status, window.__statusTexts);
}));

test('the launch button follows a real game from start to end, and stops a running one',
  { skip: !existsSync(join(JDK, 'bin', 'javac')) && 'no JDK 17' }, async () => {
    const home = new TempHome(), untilFile = join(home.root, 'game-may-end');
    prepareHome(home, untilFile);
    await withSession({ home, env: { JAVA_HOME: JDK }, beforeLoad: keepButtonTexts }, async (s, _, page) => {
      const count = (type) => s.events.filter((e) => e.type === type).length;
      // The stored sign-in comes back with the page's first load.
      assert.equal((await s.waitForEvent('yggdrasil:restored')).name, 'Steve');
      await s.waitText('#roleName', 'Steve');

      await page.click('#launchBtn');
      assert.deepEqual((await s.sent()).at(-1), { type: 'game:launch' });
      await s.waitText('#launchBtn', '运行中 · 点击关闭');
      assert.ok(await page.isDisabled('#roleMenuBtn'), 'no role switch while playing');
      await s.waitText('#sessionState', (t) => /^0 小时 0 分钟 \d+ 秒$/.test(t));
      writeFileSync(untilFile, 'end');
      await s.waitText('#launchBtn', '启动游戏');
      assert.equal(await page.textContent('#sessionState'), '未启动');
      assert.ok(!(await page.isDisabled('#roleMenuBtn')));
      assert.ok(Number(await page.evaluate(() => localStorage.getItem('ls_playtotal'))) > 0, 'the session counts');
      // While it prepares, the button cancels and the panel below it tells the steps.
      const [texts, statuses] = await page.evaluate(() => [window.__buttonTexts, window.__statusTexts]);
      assert.deepEqual(texts, ['启动游戏', '取消', '运行中 · 点击关闭', '启动游戏']);
      const steps = ['正在校验游戏文件…', '正在准备游戏文件…', '正在启动 Minecraft 客户端…'];
      assert.deepEqual(statuses.filter((t) => steps.includes(t)), steps, JSON.stringify(statuses));

      // A second game, which would run on; the same button now stops it.
      rmSync(untilFile);
      await page.click('#launchBtn');
      await s.waitText('#launchBtn', '运行中 · 点击关闭');
      await page.click('#launchBtn');
      assert.deepEqual((await s.sent()).at(-1), { type: 'game:stop' });
      await waitUntil(() => count('game:stopped') === 2, 'the stop');
      await s.waitText('#launchBtn', '启动游戏');
      assert.equal(count('game:error'), 0, JSON.stringify(s.events));
    });
  });

// A core whose libraries come from a loopback server: `held` answers only when released, `gone`
// points at a closed port; the others arrive.
function addLibraries(home, base, names) {
  const json = join(home.program, '.minecraft', 'versions', '1.20.1', '1.20.1.json');
  const version = JSON.parse(readFileSync(json, 'utf8'));
  version.libraries = names.map((name) => ({ name: `x:${name}:1`, downloads: { artifact: { path: `x/${name}.jar`,
    url: name === 'gone' ? 'http://127.0.0.1:9/gone.jar' : `${base}/${name}.jar` } } }));
  writeFileSync(json, JSON.stringify(version));
}

test('preparing a launch shows what is left, can be cancelled, and a failed file is named with what to do',
  { skip: !existsSync(join(JDK, 'bin', 'javac')) && 'no JDK 17' }, async () => {
    let release;
    const released = new Promise((resolve) => { release = resolve; });
    const server = await serve(async (request, response) => {
      if (request.url === '/held.jar') await released;
      response.end('library ' + request.url);
    });
    const home = new TempHome();
    prepareHome(home, join(home.root, 'never'));
    try {
      await withSession({ home, env: { JAVA_HOME: JDK } }, async (s, _, page) => {
        await s.waitText('#roleName', 'Steve');
        // A file that takes its time: the player sees the download and may cancel it.
        addLibraries(home, server.base, ['held']);
        await page.click('#launchBtn');
        await s.waitText('#launchStatus', '正在下载 1 个缺少的游戏文件…（0%）');
        assert.equal(await page.textContent('#launchBtn'), '取消');
        await page.screenshot({ path: artifact('launch-progress.png') });
        await page.click('#launchBtn');
        assert.deepEqual((await s.sent()).at(-1), { type: 'game:stop' });
        await s.waitText('#launchStatus', '已取消启动');
        await s.waitText('#launchBtn', '启动游戏');
        release();

        // Two files arrive and one cannot: counted apart, named, and a cause the player can act on.
        addLibraries(home, server.base, ['a', 'b', 'gone']);
        await page.click('#launchBtn');
        const reason = '1 个文件没能下载：x/gone.jar。无法连接下载服务器，请检查网络或稍后重试';
        await s.waitText('#launchStatus', '启动失败：' + reason);
        const withoutSpeed = (text) => text.replace(/ · [0-9.]+ [KM]B\/s$/, '');
        assert.ok(s.events.some((e) => e.type === 'install:progress' && withoutSpeed(e.msg) === '已完成 2/3 · 失败 1 · 剩余 0' && e.pct === 66),
          JSON.stringify(s.events.filter((e) => e.type === 'install:progress')));
        assert.ok(await page.evaluate(() => document.getElementById('launchPanel').classList.contains('failed')));
        assert.equal((await s.waitForToast('启动失败：' + reason)).kind, 'error');
        assert.equal(await page.textContent('#launchBtn'), '启动游戏');
        await page.screenshot({ path: artifact('launch-failed.png') });
        assert.equal(s.events.filter((e) => e.type === 'game:started').length, 0);
      });
    } finally {
      release();
      await server.close();
    }
  });
