// The page with the launcher: a boot error, the title bar, the registration frame offline, modpack
// import, cancel and dropped files, Java downloads, and the contrast of every screen.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { mkdirSync, writeFileSync } from 'node:fs';
import { join } from 'node:path';
import { withSession, serve, waitUntil, contrastProblems, artifact } from './harness.mjs';

const lastSent = async (s) => (await s.sent()).at(-1);

test('a boot error is shown once, as plain text; the title bar; only web addresses open', async () => {
  await withSession({}, async (s, home, page) => {
    // LittleSkin sends the player back with an error: the launcher reloads the page with it.
    const reason = '用户取消了授权%20</script><b>请重试</b>';
    s.sendRaw('lumivale://oauth/callback?error=access_denied&error_description=' + reason);
    assert.equal((await s.waitForEvent('oauth:fail')).reason, reason);
    assert.equal((await s.waitForToast(reason)).kind, 'error');
    assert.equal((await s.toasts()).filter((t) => t.text === reason).length, 1);
    assert.equal(await page.$$eval('#toasts b', (els) => els.length), 0);
    assert.deepEqual(s.blocked, [], 'signed out, the page asks for nothing outside itself');

    const box = await page.locator('#appTitle').boundingBox();
    await page.mouse.move(box.x + 5, box.y + 5);
    await page.mouse.down();
    await page.mouse.up();
    await page.click('#btnMin');  // pressing a title bar button starts no move
    await waitUntil(() => s.hostLines.some((l) => l.action === 'min'), 'min');
    assert.deepEqual(s.hostLines.map((l) => l.action ?? l.error), [reason, 'drag', 'min']);
    // Only http and https addresses reach the host, whoever asks.
    s.sendRaw('{"type":"browser:open","url":"file:///etc/passwd"}');
    s.sendRaw('{"type":"browser:open","url":"javascript:alert(1)"}');
    await page.click('.nav[data-screen="about"]');
    await page.click('#aboutLink');
    assert.match((await waitUntil(() => s.hostLines.find((l) => l.type === 'host:open'), 'host:open')).url, /^https:\/\//);
    assert.equal(s.hostLines.filter((l) => l.type === 'host:open').length, 1);
    // Offline, the registration screen says so and offers the browser instead of a broken frame.
    await page.click('.nav[data-screen="register"]');
    await waitUntil(() => page.isVisible('#registerOffline'), 'the offline note');
    assert.ok(await page.isHidden('#registerFrame'));
    await page.click('#registerBrowserBtn');
    await waitUntil(() => s.hostLines.filter((l) => l.type === 'host:open').length === 2, 'the sign-up page in the browser');
    assert.equal(s.hostLines.at(-1).url, 'https://littleskin.cn/auth/register');
    await page.click('#btnClose');
    assert.equal(await s.exited, 0);
    assert.equal(s.hostLines.at(-1).action, 'close');
  });
});

// A zip of `files` ({name: text}) made with the JDK's jar tool.
function zipOf(home, name, files) {
  const dir = join(home.root, name + '.d');
  mkdirSync(dir);
  for (const [file, text] of Object.entries(files)) writeFileSync(join(dir, file), text);
  const zip = join(home.root, name);
  execFileSync('jar', ['--create', '--no-manifest', '--file', zip, '-C', dir, '.']);
  return zip;
}

test('modpacks: the drop zone, drops the window hands over, a refused pack, a cancelled import', async () => {
  let release;
  const released = new Promise((resolve) => { release = resolve; });
  const mirror = await serve(async (request, response) => { await released; response.end('{"id":"1.20.1","libraries":[]}'); });
  try {
    await withSession({ env: { LUMIVALE_MIRROR_BASE: mirror.base + '/' } }, async (s, home, page) => {
      // Files dragged over the page show where to drop; the page itself sends nothing (the window
      // takes the drop), and never lets the browser open the file.
      const files = await page.evaluateHandle(() => { const t = new DataTransfer(); t.items.add(new File(['PK'], 'Sky.zip')); return t; });
      await page.dispatchEvent('#content', 'dragenter', { dataTransfer: files });
      assert.ok(await page.isVisible('#dropZone'));
      await page.dispatchEvent('#content', 'drop', { dataTransfer: files });
      assert.ok(await page.isHidden('#dropZone'));
      assert.deepEqual((await s.sent()).map((c) => c.type), ['sys:init']);
      // The real window takes file drags before the page sees them and says when one is over it.
      await s.deliver({ type: 'window:drag', over: true });
      assert.ok(await page.isVisible('#dropZone'));
      await s.deliver({ type: 'window:drag', over: false });
      assert.ok(await page.isHidden('#dropZone'));
      assert.ok(await page.evaluate(() => !document.body.dispatchEvent(
        new DragEvent('dragover', { cancelable: true, bubbles: true, dataTransfer: new DataTransfer() }))));
      // A dropped file of another kind gets a word, not an import.
      s.sendRaw(JSON.stringify({ type: 'modpack:drop', path: join(home.root, 'notes.txt') }));
      assert.equal((await s.waitForToast('只能导入 .zip 或 .mrpack 整合包，这个文件不是：notes.txt')).kind, 'warn');

      // A zip without manifest.json, chosen through the host's picker: the first step failed.
      const broken = zipOf(home, 'Broken Pack.zip', { 'readme.txt': 'not a modpack' });
      s.pickAnswers.push(broken);
      await page.click('.nav[data-screen="modpack"]');
      await page.click('#mpPickBtn');
      assert.equal((await s.waitForEvent('modpack:selected')).path, broken);
      assert.equal(s.hostLines.find((l) => l.type === 'host:pick').kind, 'file');
      await s.waitText('#mpFile', 'Broken Pack.zip');
      await page.click('#mpImportBtn');
      assert.deepEqual(await lastSent(s), { type: 'modpack:import', zip: broken });
      await s.waitText('#mpStatus', '导入失败：zip 内找不到 manifest.json');
      assert.equal((await s.waitForToast('导入失败：zip 内找不到 manifest.json')).kind, 'error');
      assert.deepEqual(await page.$$eval('#mpSteps .step', (els) => els.map((e) => e.className).slice(0, 2)), ['step failed', 'step']);
      assert.ok(!(await page.isDisabled('#mpImportBtn')), 'the player may try again');

      // A pack the window hands over starts at once; while the mirror thinks, another drop is
      // refused without touching this import's screen, and the player cancels.
      const pack = zipOf(home, 'Sky Pack.ZIP', { 'manifest.json': JSON.stringify({ minecraft: { version: '1.20.1' }, name: 'Sky' }) });
      s.sendRaw(JSON.stringify({ type: 'modpack:drop', path: pack }));
      await s.waitText('#mpFile', 'Sky Pack.ZIP');
      await s.waitText('#mpStatus', '正在获取版本信息…');
      s.sendRaw(JSON.stringify({ type: 'modpack:drop', path: broken }));
      assert.equal((await s.waitForToast('已有整合包正在导入，请等它完成或先取消')).kind, 'warn');
      assert.equal(await page.textContent('#mpStatus'), '正在获取版本信息…');
      await page.click('#mpCancelBtn');
      assert.deepEqual(await lastSent(s), { type: 'modpack:cancel' });
      release();
      await s.waitText('#mpStatus', '已取消导入');
      assert.ok(await page.isHidden('#mpCancelBtn'));
      assert.ok(!(await page.$$eval('#mpSteps .step', (els) => els.some((e) => e.classList.contains('failed')))), 'a cancel is no failure');
    });
  } finally {
    release();
    await mirror.close();
  }
});

test('the Java screen: the catalogue in number order, a refused download, progress, an unreachable server', async () => {
  const requests = [];
  let reachable = true;
  const backend = await serve((request, response) => {
    requests.push(request.url);
    if (!reachable) return request.socket.destroy();
    response.end(JSON.stringify(request.url === '/api/java/list'
      ? { success: true, items: [{ name: 'Temurin 21' }, { name: 'Temurin 8' }, { name: 'Temurin 17', url: 'http://127.0.0.1:9/x.tar.gz', sha256: '', size: 188743680 }] }
      : { success: false, error: 'not here' }));
  });
  try {
    await withSession({ env: { LUMIVALE_BACKEND_BASE: backend.base } }, async (s, home, page) => {
      await page.click('.nav[data-screen="java"]');
      assert.deepEqual(await lastSent(s), { type: 'java:open' });
      await waitUntil(async () => (await page.$$eval('.javaCard .name', (els) => els.map((e) => e.textContent).join())) === 'Temurin 8,Temurin 17,Temurin 21', 'the catalogue');
      await page.click('.javaCard[data-name="Temurin 17"] button');
      assert.deepEqual(await lastSent(s), { type: 'java:install', name: 'Temurin 17' });
      await s.waitText('.javaCard[data-name="Temurin 17"] .status', '获取下载地址失败');
      assert.deepEqual(await page.$$eval('.javaCard button', (els) => els.map((e) => e.disabled)), [false, false, false], 'free again');
      assert.ok(requests.includes('/api/java/download?name=Temurin%2017'), JSON.stringify(requests));
      // A download under way shows its share beside the amounts, on a bar with a visible track.
      await s.deliver({ type: 'java:progress', name: 'Temurin 8', phase: 'download', percent: 8, text: '正在下载 0.4 MB / 5.0 MB' });
      assert.equal(await page.textContent('.javaCard[data-name="Temurin 8"] .status'), '正在下载 0.4 MB / 5.0 MB（8%）');
      assert.equal(await page.$eval('.javaCard[data-name="Temurin 8"] .bar > div', (e) => e.style.width), '8%');
      assert.notEqual(await page.$eval('.javaCard .bar', (e) => getComputedStyle(e).backgroundColor), await page.$eval('.javaCard', (e) => getComputedStyle(e).backgroundColor));
      await page.screenshot({ path: artifact('java.png') });

      // A server that cannot be reached is not one that offers no Java.
      reachable = false;
      await page.click('.nav[data-screen="java"]');
      await s.waitText('#javaList .note', '获取 Java 列表失败：无法连接服务端，请检查网络后重试');
      assert.ok(!(await page.textContent('#javaList')).includes('未启用分发'));
      reachable = true;
      await page.click('#javaList button');
      await waitUntil(async () => (await page.$$('.javaCard')).length === 3, 'the catalogue again');
    });
  } finally {
    await backend.close();
  }
});

// The colours of every screen in its usual states, as rendered, against what lies beneath.
test('every text and control on every screen meets 4.5:1 (3:1 when large)', async () => {
  await withSession({}, async (s, home, page) => {
    const check = async (where) => assert.deepEqual(await contrastProblems(page), [], where);
    await s.settled();
    await check('the sign-in card');
    await s.deliver({ type: 'yggdrasil:restored', name: 'Steve', profiles: [{ id: '1', name: 'Steve' }], profile: { id: '1', name: 'Steve' } });
    await s.deliver({ type: 'install:progress', pct: 40, msg: '已完成 4/10 · 剩余 6' });
    for (const [type, msg] of [['game:info', 'info'], ['game:warning', 'warn']]) await s.deliver({ type, msg });
    await s.deliver({ type: 'role:changed', profile: { id: '1', name: 'Steve' } });
    await s.deliver({ type: 'game:error', reason: '1 个文件没能下载：x/gone.jar。无法连接下载服务器，请检查网络或稍后重试' });
    await check('the dashboard, a failed launch and a toast of each kind');
    // A long path in a toast wraps after its separators, never inside a name.
    await s.deliver({ type: 'game:warning', msg: '/home/player/.minecraft/versions/Skyblock Adventures Extended/Skyblock.jar' });
    assert.deepEqual(await page.$eval('#toasts .toast:last-child', (e) => [e.querySelectorAll('wbr').length, getComputedStyle(e).wordBreak]),
      [6, 'normal'], 'one break opportunity after each of the six slashes');
    for (const screen of ['settings', 'options', 'java', 'modpack', 'about']) {
      await page.click(`.nav[data-screen="${screen}"]`);
      await s.settled();
      if (screen === 'settings') await page.click('#openInstallBtn');
      if (screen === 'modpack') {
        await s.deliver({ type: 'modpack:progress', step: 2, total: 7, pct: 50, status: '依赖库 5/10' });
        await s.deliver({ type: 'modpack:error', reason: '网络下载失败' });
      }
      await check(`the ${screen} screen`);
    }
    await s.deliver({ type: 'game:crash', stage: 'run', exitCode: 1, files: [], causes: [
      { confidence: 'high', title: '内存不足', advice: '调大内存' }, { confidence: 'medium', title: 'b', advice: 'c' }, { confidence: 'low', title: 'd', advice: 'e' }] });
    await check('the crash panel');
  });
});
