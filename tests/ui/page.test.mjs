// The page's own behaviour: the login card's warnings, the title bar, a boot error, and the
// screens that are fed by events (Java downloads, modpack import, dropped files).
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { mkdirSync, writeFileSync } from 'node:fs';
import { join } from 'node:path';
import { launchBrowser, Session, TempHome, serve, waitUntil } from './harness.mjs';

let browser;
before(async () => { browser = await launchBrowser(); });
after(async () => { await browser?.close(); });

async function withSession(options, body) {
  const home = new TempHome();
  const session = await Session.open(browser, { home, ...options });
  try {
    await body(session, home);
    assert.deepEqual(session.consoleErrors, [], 'the page raised no script error');
  } finally {
    await session.close();
    home.cleanup();
  }
}

const visible = (page, selector) => page.isVisible(selector);
const text = (page, selector) => page.textContent(selector);

test('the login card warns about empty fields and sends nothing; the reports fill the settings', async () => {
  await withSession({}, async (s) => {
    const { page } = s;
    assert.ok(await visible(page, '#loginCard'));
    assert.ok(!(await visible(page, '#dashboard')));

    await page.click('#loginBtn');
    await s.waitForToast('请输入 LittleSkin 账号');
    assert.equal((await s.toasts()).find((t) => t.text === '请输入 LittleSkin 账号').kind, 'warn');

    await page.fill('#loginUser', '   alice@example.com  ');
    await page.press('#loginPass', 'Enter');
    await s.waitForToast('请输入密码');
    assert.ok(!(await s.sent()).some((c) => c.type === 'yggdrasil:login'));

    // The first command after loading is "sys:init"; its reports fill the settings screen.
    assert.equal((await s.sent())[0].type, 'sys:init');
    await s.waitForEvent('sys:memory');
    await page.click('.nav[data-screen="settings"]');
    await waitUntil(async () => /^\d+ GB$/.test(await text(page, '#memTotal')), 'the memory line');
    const memory = s.events.find((e) => e.type === 'sys:memory');
    assert.equal(await text(page, '#memRec'), memory.recommendedG + 'G');
    assert.equal(await text(page, '#coreSelect'), '未检测到游戏核心');
    assert.equal(await page.$eval('#javaSelect', (el) => el.options[0].textContent), '自动选择（按版本推荐）');
    // The page asked for nothing outside itself: no fonts, no pictures, no avatar while signed out.
    assert.deepEqual(s.blocked, []);
  });
});

test('the title bar moves, minimises and closes the window; registration and the about link', async () => {
  await withSession({}, async (s) => {
    const { page } = s;
    const box = await page.locator('#appTitle').boundingBox();
    await page.mouse.move(box.x + 5, box.y + 5);
    await page.mouse.down();
    await page.mouse.up();
    await page.click('#btnMin');
    await waitUntil(() => s.hostLines.some((l) => l.type === 'host:window' && l.action === 'min'), 'min');
    assert.ok(s.hostLines.some((l) => l.type === 'host:window' && l.action === 'drag'));
    // Pressing a title bar button does not start a move.
    assert.equal(s.hostLines.filter((l) => l.action === 'drag').length, 1);

    // The registration screen loads the skin site's page in its frame (refused here).
    await page.click('#toRegisterBtn');
    assert.ok(await page.isVisible('#registerFrame'));
    await waitUntil(() => s.blocked.includes('https://littleskin.cn/auth/register'), 'the registration page');

    await page.click('.nav[data-screen="about"]');
    await page.click('#aboutLink');
    await waitUntil(() => s.hostLines.find((l) => l.type === 'host:open'), 'host:open');
    assert.match(s.hostLines.find((l) => l.type === 'host:open').url, /^https:\/\//);

    await page.click('#btnClose');
    assert.equal(await s.exited, 0);
    assert.ok(s.hostLines.some((l) => l.type === 'host:window' && l.action === 'close'));
  });
});

test('a boot error is shown once as an error toast, as plain text', async () => {
  await withSession({}, async (s) => {
    const { page } = s;
    // LittleSkin sends the player back with an error: the launcher reloads the page with it.
    const reason = '用户取消了授权%20</script><b>请重试</b>';
    s.sendRaw('lumivale://oauth/callback?error=access_denied&error_description=' + reason);
    assert.equal((await s.waitForEvent('oauth:fail')).reason, reason);
    const shown = await s.waitForToast(reason);
    assert.equal(shown.kind, 'error');
    assert.equal((await s.toasts()).filter((t) => t.text === reason).length, 1);
    assert.equal(await page.$$eval('#toasts b', (els) => els.length), 0);
    assert.equal(await page.evaluate(() => window.__bootError), undefined);
    assert.deepEqual(s.hostLines.filter((l) => l.type === 'host:reload').map((l) => l.error), [reason]);

    // The next load shows nothing again.
    await s.playHostLine({ type: 'host:reload', error: '' });
    assert.deepEqual((await s.toasts()).filter((t) => t.text === reason), []);
    assert.equal((await s.sent())[0].type, 'sys:init');
  });
});

test('the modpack screen follows the eight steps of an import to its end', async () => {
  await withSession({ launcher: false }, async (s) => {
    const { page } = s;
    await page.click('.nav[data-screen="modpack"]');
    assert.ok(await page.isDisabled('#mpImportBtn'));
    await page.click('#mpPickBtn');
    assert.deepEqual((await s.sent()).at(-1), { type: 'modpack:browse' });

    const path = '/home/player/整合包/Cherry Blossom 1.20.1.zip';
    await s.deliver({ type: 'modpack:selected', path });
    assert.equal(await text(page, '#mpFile'), 'Cherry Blossom 1.20.1.zip');
    assert.equal(await text(page, '#mpPickBtn'), '重新选择');
    await page.click('#mpImportBtn');
    assert.deepEqual((await s.sent()).at(-1), { type: 'modpack:import', zip: path });
    assert.ok(await page.isDisabled('#mpImportBtn'));

    const names = ['解析清单', '获取版本信息', '下载依赖库', '下载资源文件', '下载游戏核心', '解压整合包',
      '安装 Forge', '准备 Mod / 资源包'];
    assert.deepEqual(await page.$$eval('#mpSteps .step', (els) => els.map((e) => e.textContent)), names);
    for (let step = 0; step <= 7; step++) {
      for (const pct of [0, 50]) {
        await s.deliver({ type: 'modpack:progress', step, total: 7, pct, status: `第 ${step} 步 ${pct}%` });
        const states = await page.$$eval('#mpSteps .step', (els) => els.map((e) => e.className));
        assert.deepEqual(states, names.map((_, i) => (i < step ? 'step done' : i === step ? 'step active' : 'step')));
        const width = await page.$eval('#mpBar > div', (el) => parseFloat(el.style.width));
        assert.ok(Math.abs(width - ((step + pct / 100) / 8) * 100) < 1e-6, `bar at step ${step} ${pct}%: ${width}`);
        assert.equal(await text(page, '#mpStatus'), `第 ${step} 步 ${pct}%`);
      }
    }
    const log = (await text(page, '#mpLog')).trim().split('\n');
    assert.equal(log.length, 16);
    assert.equal(log[0], '[1/8] 第 0 步 0%');
    assert.equal(log[15], '[8/8] 第 7 步 50%');

    await s.deliver({ type: 'modpack:done', total: 12, direct: 7, s3: 3, skipped: 1, failed: 1 });
    assert.deepEqual(await page.$$eval('#mpSteps .step.done', (els) => els.length), 8);
    assert.equal(await page.$eval('#mpStatus', (el) => el.innerText),
      '✅ 整合包导入成功！\n直链 7 个 · S3 3 个 · 跳过 1 个 · 缺 1 个');
    assert.equal((await s.waitForToast('整合包导入成功')).kind, 'success');
    assert.ok(!(await page.isDisabled('#mpImportBtn')));

    // A refused second import.
    await page.click('#mpImportBtn');
    await s.deliver({ type: 'modpack:error', reason: '已有整合包正在导入中' });
    assert.equal(await text(page, '#mpStatus'), '导入失败：已有整合包正在导入中');
    assert.equal((await s.waitForToast('导入失败：已有整合包正在导入中')).kind, 'error');
    assert.match(await text(page, '#mpLog'), /导入失败：已有整合包正在导入中\n$/);
  });
});

test('a dropped .zip or .mrpack starts an import and shows the modpack screen; other files do nothing', async () => {
  await withSession({ launcher: false }, async (s) => {
    const { page } = s;
    const drop = async (name) => {
      const transfer = await page.evaluateHandle((n) => {
        const t = new DataTransfer();
        t.items.add(new File(['PK'], n));
        return t;
      }, name);
      await page.dispatchEvent('#content', 'drop', { dataTransfer: transfer });
    };
    await drop('notes.txt');
    assert.ok(!(await s.sent()).some((c) => c.type === 'modpack:drop'));
    assert.ok(await page.isVisible('#loginCard'));

    await drop('Sky Pack.MRPACK');
    assert.deepEqual((await s.sent()).at(-1), { type: 'modpack:drop', path: 'Sky Pack.MRPACK' });
    assert.ok(await page.isVisible('#screen-modpack'));
    assert.equal(await text(page, '#mpFile'), 'Sky Pack.MRPACK');

    // The browser is never left to open a dropped file itself.
    const prevented = await page.evaluate(() => {
      const e = new DragEvent('dragover', { cancelable: true, bubbles: true, dataTransfer: new DataTransfer() });
      document.body.dispatchEvent(e);
      return e.defaultPrevented;
    });
    assert.ok(prevented);
  });
});

test('the Java screen lists the installable runtimes and follows an installation', async () => {
  await withSession({ launcher: false }, async (s) => {
    const { page } = s;
    await page.click('.nav[data-screen="java"]');
    assert.deepEqual((await s.sent()).at(-1), { type: 'java:open' });

    await s.deliver({ type: 'java:list', items: [] , error: '无法连接服务端' });
    assert.match(await text(page, '#javaList'), /^暂无可安装的 Java 版本（服务端未启用分发）。/);

    await s.deliver({ type: 'java:list', items: [{ name: 'Temurin 17', size: 188743680 }, { name: 'Temurin 21' }] });
    assert.deepEqual(await page.$$eval('.javaCard .name', (els) => els.map((e) => e.textContent)), ['Temurin 17', 'Temurin 21']);
    await page.click('.javaCard[data-name="Temurin 21"] button');
    assert.deepEqual((await s.sent()).at(-1), { type: 'java:install', name: 'Temurin 21' });
    assert.deepEqual(await page.$$eval('.javaCard button', (els) => els.map((e) => e.disabled)), [true, true]);

    const card = '.javaCard[data-name="Temurin 21"]';
    await s.deliver({ type: 'java:progress', name: 'Temurin 21', phase: 'download', percent: 140, text: '正在下载 3 MB / 2 MB' });
    assert.equal(await page.$eval(`${card} .bar > div`, (el) => el.style.width), '100%');
    assert.equal(await text(page, `${card} .status`), '正在下载 3 MB / 2 MB');
    await s.deliver({ type: 'java:progress', name: 'Temurin 21', phase: 'install', percent: -5, text: '正在安装（需要管理员授权）…' });
    assert.equal(await page.$eval(`${card} .bar > div`, (el) => el.style.width), '0%');
    assert.ok(await page.isDisabled(`${card} button`));
    await s.deliver({ type: 'java:progress', name: 'Temurin 21', phase: 'done', percent: 100, text: '安装完成 ✓' });
    assert.equal(await text(page, `${card} .status`), '安装完成 ✓');
    assert.equal(await text(page, '.javaCard[data-name="Temurin 17"] .status'), '');
    assert.deepEqual(await page.$$eval('.javaCard button', (els) => els.map((e) => e.disabled)), [false, false]);
  });
});

test('the dashboard renders account, play time and launch events', async () => {
  await withSession({ launcher: false }, async (s) => {
    const { page } = s;
    // A restored sign-in without a role name falls back to Steve_Vorn and the built-in avatar.
    await s.deliver({ type: 'yggdrasil:restored', name: '', profiles: [], profile: {} });
    assert.ok(await page.isVisible('#dashboard'));
    assert.equal(await page.textContent('#roleName'), 'Steve_Vorn');
    assert.ok((await page.getAttribute('#avatar', 'src')).startsWith('data:image/svg+xml'));
    assert.equal(await page.evaluate(() => localStorage.getItem('ls_name')), null, 'a restore stores no sign-in name');

    await s.deliver({ type: 'yggdrasil:profiles:refreshed', profiles: [{ id: 'r1', name: 'Rin' }, { id: 'r2', name: 'Kai' }], profile: { id: 'r2', name: 'Kai' } });
    assert.equal(await page.textContent('#roleName'), 'Kai');
    await page.click('#roleMenuBtn');
    assert.deepEqual(await page.$$eval('#roleMenu .roleItem', (els) => els.map((e) => e.textContent)), ['Rin', 'Kai']);
    assert.deepEqual(await page.$$eval('#roleMenu .current', (els) => els.map((e) => e.textContent)), ['Kai']);
    await s.deliver({ type: 'yggdrasil:profiles:refreshed', profiles: [], profile: { id: 'r1', name: 'Rin' } });
    await page.click('#roleMenuBtn');
    assert.equal(await page.$$eval('#roleMenu .roleItem', (els) => els.length), 2, 'an empty list keeps the roles');
    await s.deliver({ type: 'role:changed', error: '网络请求失败，请检查网络后重试' });
    assert.equal((await s.waitForToast('切换角色失败：网络请求失败，请检查网络后重试')).kind, 'error');

    // Play time: whole hours, not wrapped into days.
    await s.deliver({ type: 'cloud:playtime:got', total_seconds: 45296 });
    assert.equal(await page.textContent('#playTotal'), '12 小时 34 分钟 56 秒');
    await s.deliver({ type: 'cloud:playtime:got', total_seconds: 360061 });
    assert.equal(await page.textContent('#playTotal'), '100 小时 1 分钟 1 秒');
    assert.equal(await page.evaluate(() => localStorage.getItem('ls_playtotal')), '360061000');

    // The launch button's busy texts, an info toast, and a failure that resets it.
    await s.deliver({ type: 'game:info', msg: '已使用你选择的 Java 启动' });
    assert.equal((await s.waitForToast('已使用你选择的 Java 启动')).kind, 'info');
    await s.deliver({ type: 'install:start' });
    assert.equal(await page.textContent('#launchBtn'), '正在准备游戏文件…');
    assert.ok(await page.isDisabled('#launchBtn'));
    await s.deliver({ type: 'install:progress', pct: 40, msg: '' });
    assert.equal(await page.textContent('#launchBtn'), '下载中 40%');
    await s.deliver({ type: 'install:progress', pct: 75, msg: '正在补齐依赖库' });
    assert.equal(await page.textContent('#launchBtn'), '正在补齐依赖库 75%');
    await s.deliver({ type: 'game:error', reason: '未找到核心 jar 文件' });
    assert.equal((await s.waitForToast('启动失败：未找到核心 jar 文件')).kind, 'error');
    assert.equal(await page.textContent('#launchBtn'), '启动游戏');
    assert.ok(!(await page.isDisabled('#launchBtn')));

    await s.deliver({ type: 'game:started' });
    await s.deliver({ type: 'game:tick', ms: 3723999 });
    assert.equal(await page.textContent('#sessionState'), '1 小时 2 分钟 3 秒');
    await s.deliver({ type: 'game:stopped' });
    assert.equal(await page.textContent('#sessionState'), '未启动');
  });
});

test('choosing a modpack through the launcher, and a pack it refuses', async () => {
  await withSession({}, async (s, home) => {
    const { page } = s;
    // A zip without manifest.json, made with the JDK's jar tool.
    const folder = join(home.root, 'pack');
    mkdirSync(folder);
    writeFileSync(join(folder, 'readme.txt'), 'not a modpack');
    const zip = join(home.root, 'Broken Pack.zip');
    execFileSync('jar', ['--create', '--no-manifest', '--file', zip, '-C', folder, 'readme.txt']);

    await page.click('.nav[data-screen="modpack"]');
    s.pickAnswers.push(zip);
    await page.click('#mpPickBtn');
    assert.equal((await s.waitForEvent('modpack:selected')).path, zip);
    assert.equal(s.hostLines.find((l) => l.type === 'host:pick').kind, 'file');
    await waitUntil(async () => (await text(page, '#mpFile')) === 'Broken Pack.zip', 'the chosen file');

    await page.click('#mpImportBtn');
    await s.waitForEvent('modpack:error');
    await waitUntil(async () => (await text(page, '#mpStatus')) === '导入失败：zip 内找不到 manifest.json', 'the refusal');
    assert.match(await text(page, '#mpLog'), /^\[1\/8\] .+\n导入失败：zip 内找不到 manifest.json\n$/);
    assert.ok(!(await page.isDisabled('#mpImportBtn')), 'the player may try again');
  });
});

test('the Java screen with the launcher: an unreachable backend, then its catalogue and a refused download', async () => {
  const requests = [];
  const backend = await serve((request, response) => {
    requests.push(request.url);
    response.writeHead(200, { 'Content-Type': 'application/json' });
    if (request.url === '/api/java/list') {
      response.end(JSON.stringify({ success: true, items: [{ name: 'Temurin 17', url: 'http://127.0.0.1:9/x.tar.gz', sha256: '', size: 0 }] }));
    } else {
      response.end(JSON.stringify({ success: false, error: 'not here' }));
    }
  });
  try {
    // No backend at all first (the harness points it at a closed port).
    await withSession({}, async (s) => {
      await s.page.click('.nav[data-screen="java"]');
      assert.equal((await s.waitForEvent('java:list')).error, '无法连接服务端');
      await waitUntil(async () => (await text(s.page, '#javaList')).startsWith('暂无可安装的 Java 版本（服务端未启用分发）。'), 'the empty list');
      assert.match(await text(s.page, '#javaList'), /无法连接服务端$/);
    });
    await withSession({ env: { LUMIVALE_BACKEND_BASE: backend.base } }, async (s) => {
      const { page } = s;
      await page.click('.nav[data-screen="java"]');
      await waitUntil(async () => (await page.$$('.javaCard')).length === 1, 'the catalogue');
      await page.click('.javaCard[data-name="Temurin 17"] button');
      await s.waitForEvent('java:progress', (e) => e.phase === 'error');
      await waitUntil(async () => !(await page.isDisabled('.javaCard button')), 'the card free again');
      assert.equal(await text(page, '.javaCard .status'), '获取下载地址失败');
      assert.ok(requests.includes('/api/java/download?name=Temurin%2017'), JSON.stringify(requests));
    });
  } finally {
    await backend.close();
  }
});
