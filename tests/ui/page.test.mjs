// The page with the launcher: a boot error, the title bar, modpack import and dropped files, Java downloads.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { mkdirSync, writeFileSync } from 'node:fs';
import { join } from 'node:path';
import { withSession, serve, waitUntil } from './harness.mjs';

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
    await page.click('#btnClose');
    assert.equal(await s.exited, 0);
    assert.equal(s.hostLines.at(-1).action, 'close');
  });
});

test('modpacks: dropped files, and a pack chosen through the launcher and refused', async () => {
  await withSession({}, async (s, home, page) => {
    const drop = async (name) => page.dispatchEvent('#content', 'drop', {
      dataTransfer: await page.evaluateHandle((n) => { const t = new DataTransfer(); t.items.add(new File(['PK'], n)); return t; }, name),
    });
    await drop('notes.txt');
    await drop('Sky Pack.MRPACK');
    assert.deepEqual(await lastSent(s), { type: 'modpack:drop', path: 'Sky Pack.MRPACK' });
    assert.equal((await s.sent()).filter((c) => c.type === 'modpack:drop').length, 1, 'other files do nothing');
    assert.ok(await page.isVisible('#screen-modpack'));
    // The browser is never left to open a dropped file itself.
    assert.ok(await page.evaluate(() => !document.body.dispatchEvent(
      new DragEvent('dragover', { cancelable: true, bubbles: true, dataTransfer: new DataTransfer() }))));

    // A zip without manifest.json, chosen through the host's picker.
    mkdirSync(join(home.root, 'pack'));
    writeFileSync(join(home.root, 'pack', 'readme.txt'), 'not a modpack');
    const zip = join(home.root, 'Broken Pack.zip');
    execFileSync('jar', ['--create', '--no-manifest', '--file', zip, '-C', join(home.root, 'pack'), 'readme.txt']);
    s.pickAnswers.push(zip);
    await page.click('#mpPickBtn');
    assert.equal((await s.waitForEvent('modpack:selected')).path, zip);
    assert.equal(s.hostLines.find((l) => l.type === 'host:pick').kind, 'file');
    await s.waitText('#mpFile', 'Broken Pack.zip');
    await page.click('#mpImportBtn');
    assert.deepEqual(await lastSent(s), { type: 'modpack:import', zip });
    await s.waitText('#mpStatus', '导入失败：zip 内找不到 manifest.json');
    assert.equal((await s.waitForToast('导入失败：zip 内找不到 manifest.json')).kind, 'error');
    assert.match(await page.textContent('#mpLog'), /^\[1\/8\] .+\n导入失败：zip 内找不到 manifest.json\n$/);
    assert.ok(!(await page.isDisabled('#mpImportBtn')), 'the player may try again');

  });
});

test('the Java screen: the backend catalogue and a refused download', async () => {
  const requests = [];
  const backend = await serve((request, response) => {
    requests.push(request.url);
    response.end(JSON.stringify(request.url === '/api/java/list'
      ? { success: true, items: [{ name: 'Temurin 17', url: 'http://127.0.0.1:9/x.tar.gz', sha256: '', size: 188743680 }, { name: 'Temurin 21' }] }
      : { success: false, error: 'not here' }));
  });
  try {
    await withSession({ env: { LUMIVALE_BACKEND_BASE: backend.base } }, async (s, home, page) => {
      await page.click('.nav[data-screen="java"]');
      assert.deepEqual(await lastSent(s), { type: 'java:open' });
      await waitUntil(async () => (await page.$$eval('.javaCard .name', (els) => els.map((e) => e.textContent).join())) === 'Temurin 17,Temurin 21', 'the catalogue');
      await page.click('.javaCard[data-name="Temurin 17"] button');
      assert.deepEqual(await lastSent(s), { type: 'java:install', name: 'Temurin 17' });
      await s.waitText('.javaCard[data-name="Temurin 17"] .status', '获取下载地址失败');
      assert.deepEqual(await page.$$eval('.javaCard button', (els) => els.map((e) => e.disabled)), [false, false], 'free again');
      assert.ok(requests.includes('/api/java/download?name=Temurin%2017'), JSON.stringify(requests));
    });
  } finally {
    await backend.close();
  }
});
