// The page's own behaviour: the title bar, a boot error, and the screens fed by events (dashboard,
// Java downloads, modpack import, dropped files).
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { mkdirSync, writeFileSync } from 'node:fs';
import { join } from 'node:path';
import { withSession, serve, waitUntil } from './harness.mjs';

const lastSent = async (s) => (await s.sent()).at(-1);
const texts = (page, selector) => page.$$eval(selector, (els) => els.map((e) => e.textContent));

test('a boot error is shown once, as plain text; the title bar; only web addresses open', async () => {
  await withSession({}, async (s, home, page) => {
    // LittleSkin sends the player back with an error: the launcher reloads the page with it.
    const reason = '用户取消了授权%20</script><b>请重试</b>';
    s.sendRaw('lumivale://oauth/callback?error=access_denied&error_description=' + reason);
    assert.equal((await s.waitForEvent('oauth:fail')).reason, reason);
    assert.equal((await s.waitForToast(reason)).kind, 'error');
    assert.equal((await s.toasts()).filter((t) => t.text === reason).length, 1);
    assert.equal(await page.$$eval('#toasts b', (els) => els.length), 0);
    assert.equal(await page.evaluate(() => window.__bootError), undefined);
    await s.playHostLine({ type: 'host:reload', error: '' });  // the next load shows nothing again
    assert.deepEqual(await s.toasts(), []);
    assert.deepEqual(s.blocked, [], 'signed out, the page asks for nothing outside itself');

    const box = await page.locator('#appTitle').boundingBox();
    await page.mouse.move(box.x + 5, box.y + 5);
    await page.mouse.down();
    await page.mouse.up();
    await page.click('#btnMin');  // pressing a title bar button starts no move
    await waitUntil(() => s.hostLines.some((l) => l.action === 'min'), 'min');
    assert.deepEqual(s.hostLines.map((l) => l.action ?? l.error), [reason, '', 'drag', 'min']);
    await page.click('#toRegisterBtn');
    assert.ok(await page.isVisible('#registerFrame'));
    await waitUntil(() => s.blocked.includes('https://littleskin.cn/auth/register'), 'the registration page');
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

test('the dashboard renders account, role and play time events and a failed launch', async () => {
  await withSession({ launcher: false }, async (s, home, page) => {
    // A restored sign-in without a role name falls back to Steve_Vorn; a restore stores no sign-in name.
    await s.deliver({ type: 'yggdrasil:restored', name: '', profiles: [], profile: {} });
    assert.equal(await page.textContent('#roleName'), 'Steve_Vorn');
    assert.equal(await page.evaluate(() => localStorage.getItem('ls_name')), null);
    const roles = [{ id: 'r1', name: 'Rin' }, { id: 'r2', name: 'Kai' }];
    await s.deliver({ type: 'yggdrasil:profiles:refreshed', profiles: roles, profile: roles[1] });
    await s.deliver({ type: 'yggdrasil:profiles:refreshed', profiles: [], profile: roles[0] });
    await page.click('#roleMenuBtn');
    assert.deepEqual(await texts(page, '#roleMenu .roleItem'), ['Rin', 'Kai'], 'an empty list keeps the roles');
    assert.deepEqual(await texts(page, '#roleMenu .current'), ['Rin']);
    await s.deliver({ type: 'cloud:playtime:got', total_seconds: 360061 });
    assert.equal(await page.textContent('#playTotal'), '100 小时 1 分钟 1 秒', 'whole hours, not wrapped into days');

    await s.deliver({ type: 'install:progress', pct: 75, msg: '正在补齐依赖库' });
    assert.equal(await page.textContent('#launchBtn'), '正在补齐依赖库 75%');
    assert.ok(await page.isDisabled('#launchBtn'));
    await s.deliver({ type: 'game:error', reason: '未找到核心 jar 文件' });
    assert.equal((await s.waitForToast('启动失败：未找到核心 jar 文件')).kind, 'error');
    assert.equal(await page.textContent('#launchBtn'), '启动游戏');
    assert.ok(!(await page.isDisabled('#launchBtn')));
  });
});

test('modpacks: dropped files, a pack chosen through the launcher and refused, and the steps of an import', async () => {
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

    // The eight steps as the launcher reports them, then the summary.
    for (const [step, pct] of [[3, 50], [7, 50]]) {
      await s.deliver({ type: 'modpack:progress', step, total: 7, pct, status: `第 ${step} 步` });
      const states = await page.$$eval('#mpSteps .step', (els) => els.map((e) => e.className));
      assert.deepEqual(states, [...Array(8).keys()].map((i) => (i < step ? 'step done' : i === step ? 'step active' : 'step')));
      const width = await page.$eval('#mpBar > div', (el) => parseFloat(el.style.width));
      assert.ok(Math.abs(width - ((step + pct / 100) / 8) * 100) < 1e-6, `bar at step ${step} ${pct}%: ${width}`);
      assert.ok(await page.isDisabled('#mpImportBtn'));
    }
    assert.match(await page.textContent('#mpLog'), /\n\[8\/8\] 第 7 步\n$/);
    await s.deliver({ type: 'modpack:done', total: 12, direct: 7, s3: 3, skipped: 1, failed: 1 });
    assert.equal(await page.$$eval('#mpSteps .step.done', (els) => els.length), 8);
    assert.equal(await page.$eval('#mpStatus', (el) => el.innerText), '✅ 整合包导入成功！\n直链 7 个 · S3 3 个 · 跳过 1 个 · 缺 1 个');
    assert.equal((await s.waitForToast('整合包导入成功')).kind, 'success');
    assert.ok(!(await page.isDisabled('#mpImportBtn')));
  });
});

test('the Java screen: an unreachable backend, then its catalogue, refused downloads and the progress bar', async () => {
  const requests = [];
  let release;
  const backend = await serve((request, response) => {
    requests.push(request.url);
    const answer = JSON.stringify(request.url === '/api/java/list'
      ? { success: true, items: [{ name: 'Temurin 17', url: 'http://127.0.0.1:9/x.tar.gz', sha256: '', size: 188743680 }, { name: 'Temurin 21' }] }
      : { success: false, error: 'not here' });
    release = () => response.end(answer);
    if (!request.url.endsWith('Temurin%2021')) release();  // that one is answered when the test says
  });
  try {
    await withSession({}, async (s, home, page) => {  // no backend at all
      await page.click('.nav[data-screen="java"]');
      assert.equal((await s.waitForEvent('java:list')).error, '无法连接服务端');
      await s.waitText('#javaList', '暂无可安装的 Java 版本（服务端未启用分发）。无法连接服务端');
    });
    await withSession({ env: { LUMIVALE_BACKEND_BASE: backend.base } }, async (s, home, page) => {
      const disabled = () => page.$$eval('.javaCard button', (els) => els.map((e) => e.disabled));
      const card = (name) => `.javaCard[data-name="Temurin ${name}"]`;
      await page.click('.nav[data-screen="java"]');
      assert.deepEqual(await lastSent(s), { type: 'java:open' });
      await waitUntil(async () => (await texts(page, '.javaCard .name')).join() === 'Temurin 17,Temurin 21', 'the catalogue');
      await page.click(`${card(17)} button`);
      assert.deepEqual(await lastSent(s), { type: 'java:install', name: 'Temurin 17' });
      await s.waitText(`${card(17)} .status`, '获取下载地址失败');
      assert.deepEqual(await disabled(), [false, false]);
      assert.ok(requests.includes('/api/java/download?name=Temurin%2017'), JSON.stringify(requests));

      // While the launcher waits for the address: the bar stays within 0–100 %, the buttons wait for the end.
      await page.click(`${card(21)} button`);
      assert.deepEqual(await disabled(), [true, true]);
      await waitUntil(() => requests.at(-1).endsWith('Temurin%2021'), 'the second download request');
      for (const [phase, percent, width, busy] of [['download', 140, '100%', true], ['install', -5, '0%', true], ['done', 100, '100%', false]]) {
        await s.deliver({ type: 'java:progress', name: 'Temurin 21', phase, percent, text: phase });
        assert.equal(await page.$eval(`${card(21)} .bar > div`, (el) => el.style.width), width);
        assert.deepEqual(await disabled(), [busy, busy], phase);
      }
      assert.equal(await page.textContent(`${card(17)} .status`), '获取下载地址失败');
      release();
      await s.waitText(`${card(21)} .status`, '获取下载地址失败');
    });
  } finally {
    await backend.close();
  }
});
