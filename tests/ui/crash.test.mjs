// A game that dies of an out-of-memory error, with a real JVM: the crash panel says what happened,
// the cause with its fix and evidence, the logs it read, opens the log folder and saves the
// diagnostic zip where the player picks; a warning before a launch is a warning toast.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { existsSync } from 'node:fs';
import { join } from 'node:path';
import { withSession, TempHome, JDK, waitUntil, prepareGameHome } from './harness.mjs';

const GAME = `public class Game { public static void main(String[] args) {
    System.err.println("Exception in thread \\"main\\" java.lang.OutOfMemoryError: Java heap space"); System.exit(1); } }`;

test('a crashed game opens the crash panel: cause, fix, evidence, log folder and diagnostic zip',
  { skip: !existsSync(join(JDK, 'bin', 'javac')) && 'no JDK 17' }, async () => {
    const home = new TempHome();
    prepareGameHome(home, GAME, '');
    await withSession({ home, env: { JAVA_HOME: JDK } }, async (s, _, page) => {
      await s.waitText('#roleName', 'Steve');
      assert.ok(!(await page.isVisible('#crashPanel')));
      await s.deliver({ type: 'game:warning', msg: '分配内存太大' });
      assert.equal((await s.waitForToast('分配内存太大')).kind, 'warn');

      await page.click('#launchBtn');
      await s.waitForEvent('game:crash');
      await waitUntil(() => page.isVisible('#crashPanel'), 'the crash panel');
      assert.equal(await page.textContent('#crashTitle'), '游戏崩溃了');
      assert.equal(await page.textContent('#crashSummary'), '游戏在运行中崩溃了（退出码 1）。原因和处理办法如下。');
      assert.deepEqual(await page.$$eval('.cause', (items) => items.map((item) => [
        item.querySelector('.badge').textContent, item.querySelector('.head').lastChild.textContent,
        item.querySelector('.advice').textContent.slice(0, 9), item.querySelector('.mono').textContent])),
      [['很可能', '游戏内存不够用', '游戏内存不够用了（', 'Exception in thread "main" java.lang.OutOfMemoryError: Java heap space']]);
      const logFolder = join(home.program, 'log');
      assert.equal(await page.textContent('#crashFiles'), join(logFolder, 'MC启动诊断.log'));

      await page.click('#crashOpenBtn');
      await waitUntil(() => s.hostLines.some((l) => l.type === 'host:open'), 'host:open');
      assert.equal(s.hostLines.find((l) => l.type === 'host:open').url, 'file://' + logFolder);

      s.pickAnswers.push(home.root);
      await page.click('#crashExportBtn');
      const saved = await s.waitForEvent('crash:saved');
      assert.match(saved.path ?? '', /\/lumivale-crash-\d{8}-\d{6}\.zip$/);
      assert.ok(existsSync(saved.path));
      await s.waitText('#crashSaved', '诊断包已保存到 ' + saved.path);
      assert.equal((await s.waitForToast('诊断包已保存')).kind, 'success');

      await page.click('#crashCloseBtn');
      assert.ok(!(await page.isVisible('#crashPanel')));
    });
  });
