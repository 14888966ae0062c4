// "启动游戏" with a real JVM: a small game compiled here runs until the test lets it end, and the
// launch button follows it: busy texts, "运行中 · 点击关闭", and back.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { writeFileSync, existsSync, rmSync } from 'node:fs';
import { join } from 'node:path';
import { withSession, TempHome, JDK, waitUntil, prepareGameHome } from './harness.mjs';

// A game that runs until `untilFile` exists.
const prepareHome = (home, untilFile) => prepareGameHome(home, `public class Game { public static void main(String[] args) throws Exception {
    while (!java.nio.file.Files.exists(java.nio.file.Paths.get(args[args.length - 1]))) Thread.sleep(20); } }`, '--until ' + untilFile);

// Every text the launch button shows is kept.
const keepButtonTexts = (context) => context.addInitScript(() => document.addEventListener('DOMContentLoaded', () => {
  const button = document.getElementById('launchBtn');
  if (!button) return;  // the registration frame
  window.__buttonTexts = [button.textContent];
  new MutationObserver(() => window.__buttonTexts.at(-1) !== button.textContent && window.__buttonTexts.push(button.textContent))
    .observe(button, { childList: true, characterData: true, subtree: true });
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
      const [texts, steps] = [await page.evaluate(() => window.__buttonTexts), ['启动游戏', '正在校验游戏文件…', '正在准备游戏文件…', '正在启动 Minecraft 客户端…', '运行中 · 点击关闭', '启动游戏']];
      assert.deepEqual(texts.filter((t) => steps.includes(t)), steps, JSON.stringify(texts));

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
