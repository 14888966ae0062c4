// "启动游戏" with a real JVM: a small game compiled here runs until the test lets it end, and
// the launch button follows it: busy texts, "运行中 · 点击关闭", and back.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { mkdirSync, writeFileSync, chmodSync, existsSync, rmSync } from 'node:fs';
import { join } from 'node:path';
import { launchBrowser, Session, TempHome, waitUntil } from './harness.mjs';

const JDK = '/usr/lib/jvm/java-17-openjdk-amd64';
const haveJdk = existsSync(join(JDK, 'bin', 'javac'));

const GAME = `import java.nio.file.*;
public class Game {
    public static void main(String[] args) throws Exception {
        Path until = Paths.get(args[args.length - 1]);
        System.out.println("game running until " + until);
        while (!Files.exists(until)) Thread.sleep(20);
        System.exit(0);
    }
}
`;

let browser;
before(async () => { browser = await launchBrowser(); });
after(async () => { await browser?.close(); });

// A signed-in player and a core whose jar holds the game (stored, padded above 10 MiB).
function prepareHome(home, untilFile) {
  const build = join(home.root, 'build');
  mkdirSync(build, { recursive: true });
  writeFileSync(join(build, 'Game.java'), GAME);
  execFileSync(join(JDK, 'bin', 'javac'), ['-d', build, join(build, 'Game.java')]);
  writeFileSync(join(build, 'padding.bin'), Buffer.alloc(11 * 1024 * 1024));
  const core = join(home.program, '.minecraft', 'versions', '1.20.1');
  mkdirSync(core, { recursive: true });
  execFileSync(join(JDK, 'bin', 'jar'), ['--create', '--no-compress', '--file', join(core, '1.20.1.jar'),
    '-C', build, 'Game.class', '-C', build, 'padding.bin']);
  writeFileSync(join(core, '1.20.1.json'), JSON.stringify({
    id: '1.20.1', type: 'release', mainClass: 'Game',
    minecraftArguments: '--username ${auth_player_name} --until ' + untilFile,
  }));
  writeFileSync(home.config, '[launcher]\nselected_java=auto\nmemory_mb=256\ngc_preset=g1_std\n');
  const storeDir = join(home.data, 'LumivaleLauncher');
  mkdirSync(storeDir, { recursive: true, mode: 0o700 });
  const store = join(storeDir, 'orlu.json');
  writeFileSync(store, JSON.stringify({ cloud: { private_key: '' }, littleskin: {
    access_token: 'token-ui-test', client_token: 'c', current_role: 'Steve', current_role_id: '0123abcd' } }));
  chmodSync(store, 0o600);
}

test('the launch button follows a real game from start to end, and stops a running one', { skip: !haveJdk && 'no JDK 17' }, async () => {
  const home = new TempHome();
  const untilFile = join(home.root, 'game-may-end');
  prepareHome(home, untilFile);
  const s = await Session.open(browser, {
    home,
    env: { JAVA_HOME: JDK },
    // Every text the button shows is kept.
    beforeLoad: (context) => context.addInitScript(() => {
      document.addEventListener('DOMContentLoaded', () => {
        const button = document.getElementById('launchBtn');
        window.__buttonTexts = [button.textContent];
        new MutationObserver(() => {
          if (window.__buttonTexts.at(-1) !== button.textContent) window.__buttonTexts.push(button.textContent);
        }).observe(button, { childList: true, characterData: true, subtree: true });
      });
    }),
  });
  try {
    const { page } = s;
    // The stored sign-in comes back with the page's first load.
    const restored = await s.waitForEvent('yggdrasil:restored');
    assert.equal(restored.name, 'Steve');
    await waitUntil(async () => page.isVisible('#dashboard'), 'the dashboard');
    assert.equal(await page.textContent('#roleName'), 'Steve');
    assert.equal(await page.textContent('#launchBtn'), '启动游戏');
    assert.equal(await page.textContent('#sessionState'), '未启动');

    await page.click('#launchBtn');
    assert.deepEqual((await s.sent()).at(-1), { type: 'game:launch' });
    await s.waitForEvent('game:started');
    await waitUntil(async () => (await page.textContent('#launchBtn')) === '运行中 · 点击关闭', 'the running button');
    assert.ok(await page.isDisabled('#roleMenuBtn'), 'no role switch while playing');
    await s.waitForEvent('game:tick');
    await waitUntil(async () => /^0 小时 0 分钟 \d+ 秒$/.test(await page.textContent('#sessionState')), 'the session time');

    writeFileSync(untilFile, 'end');
    await s.waitForEvent('game:stopped');
    await waitUntil(async () => (await page.textContent('#launchBtn')) === '启动游戏', 'the button back');
    assert.equal(await page.textContent('#sessionState'), '未启动');
    assert.ok(!(await page.isDisabled('#roleMenuBtn')));
    assert.ok(Number(await page.evaluate(() => localStorage.getItem('ls_playtotal'))) > 0, 'the session counts');
    assert.ok(!s.events.some((e) => e.type === 'game:error'), JSON.stringify(s.events));
    const texts = await page.evaluate(() => window.__buttonTexts);
    for (const expected of ['正在校验游戏文件…', '正在准备游戏文件…', '正在启动 Minecraft 客户端…', '运行中 · 点击关闭']) {
      assert.ok(texts.includes(expected), `${expected} in ${JSON.stringify(texts)}`);
    }
    assert.equal(texts.at(-1), '启动游戏');

    // A second game, which would run on; the same button now stops it.
    rmSync(untilFile);
    const started = s.events.filter((e) => e.type === 'game:started').length;
    const stopped = s.events.filter((e) => e.type === 'game:stopped').length;
    await page.click('#launchBtn');
    await waitUntil(() => s.events.filter((e) => e.type === 'game:started').length > started, 'the second start');
    await waitUntil(async () => (await page.textContent('#launchBtn')) === '运行中 · 点击关闭', 'running again');
    await page.click('#launchBtn');
    assert.deepEqual((await s.sent()).at(-1), { type: 'game:stop' });
    await waitUntil(() => s.events.filter((e) => e.type === 'game:stopped').length > stopped, 'the stop');
    await waitUntil(async () => (await page.textContent('#launchBtn')) === '启动游戏', 'the button back again');
    assert.ok(!s.events.some((e) => e.type === 'game:error'), JSON.stringify(s.events));
  } finally {
    await s.close();
    home.cleanup();
  }
});
