// Password sign-in as a player does it, against a loopback site that answers like LittleSkin's
// Yggdrasil server: a refused password, a sign-in that ends on the dashboard, the role menu,
// and signing out.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { launchBrowser, Session, TempHome, serve, readBody, waitUntil } from './harness.mjs';

const USER = 'alice@example.com';
const PASSWORD = 'pa"ss\\wörd';
const ACCOUNT_ID = '7f3c2a10';
const ROLES = [
  { id: 'a1b2c3d4e5f60718293a4b5c6d7e8f90', name: 'Alice星' },
  { id: '0f9e8d7c6b5a49382716a5b4c3d2e1f0', name: 'Bob' },
];

// The site: authenticate and refresh as LittleSkin answers them; everything else is 404.
function littleSkin() {
  const requests = [];
  let tokens = 0;
  const handler = async (request, response) => {
    const body = await readBody(request);
    const answer = (status, value) => {
      response.writeHead(status, { 'Content-Type': 'application/json; charset=utf-8' });
      response.end(JSON.stringify(value));
    };
    let json = {};
    try { json = JSON.parse(body || '{}'); } catch { /* kept empty */ }
    requests.push({ path: request.url, body: json });
    if (request.method === 'POST' && request.url === '/api/yggdrasil/authserver/authenticate') {
      if (json.username !== USER || json.password !== PASSWORD) {
        return answer(403, { error: 'ForbiddenOperationException', errorMessage: '无效的凭证。请输入正确的"用户名"和密码' });
      }
      return answer(200, {
        accessToken: 'access-' + ++tokens, clientToken: json.clientToken,
        availableProfiles: ROLES, selectedProfile: ROLES[0],
        user: { id: ACCOUNT_ID, username: USER, properties: [] },
      });
    }
    if (request.method === 'POST' && request.url === '/api/yggdrasil/authserver/refresh') {
      return answer(200, {
        accessToken: 'access-' + ++tokens, clientToken: json.clientToken,
        selectedProfile: json.selectedProfile, user: { id: ACCOUNT_ID, username: USER, properties: [] },
      });
    }
    return answer(404, { error: 'NotFound' });
  };
  return { handler, requests };
}

let browser;
let site;
let server;
before(async () => {
  browser = await launchBrowser();
  site = littleSkin();
  server = await serve(site.handler);
});
after(async () => {
  await browser?.close();
  await server?.close();
});

test('signing in ends on the dashboard with the role name; the role menu; signing out', async () => {
  const home = new TempHome();
  const s = await Session.open(browser, {
    home,
    env: { LUMIVALE_LITTLESKIN_BASE: server.base, LUMIVALE_BACKEND_BASE: server.base },
  });
  try {
    const { page } = s;

    // A refused password: the site's own message, the card stays.
    await page.fill('#loginUser', USER);
    await page.fill('#loginPass', 'wrong');
    await page.click('#loginBtn');
    const fail = await s.waitForEvent('yggdrasil:fail');
    assert.equal(fail.reason, '无效的凭证。请输入正确的"用户名"和密码');
    assert.equal((await s.waitForToast('登录失败：' + fail.reason)).kind, 'error');
    assert.ok(s.events.some((e) => e.type === 'yggdrasil:starting'));
    assert.ok(await page.isVisible('#loginCard'));

    // The right password, typed with spaces around the name; Enter signs in.
    await page.fill('#loginUser', '  ' + USER + ' ');
    await page.fill('#loginPass', PASSWORD);
    await page.press('#loginPass', 'Enter');
    await waitUntil(() => s.posted.some((c) => c.type === 'yggdrasil:login' && c.password === PASSWORD), 'the sign-in');
    assert.deepEqual(s.posted.filter((c) => c.type === 'yggdrasil:login').at(-1), { type: 'yggdrasil:login', username: USER, password: PASSWORD });
    const success = await s.waitForEvent('yggdrasil:success');
    assert.equal(success.name, ROLES[0].name);
    assert.ok(s.hostLines.some((l) => l.type === 'host:reload'), 'the page was reloaded after the sign-in');
    const authenticate = site.requests.filter((r) => r.path === '/api/yggdrasil/authserver/authenticate').at(-1);
    assert.equal(authenticate.body.username, USER);
    assert.equal(authenticate.body.password, PASSWORD);

    await waitUntil(async () => page.isVisible('#dashboard'), 'the dashboard');
    assert.ok(await page.isHidden('#loginCard'));
    assert.equal(await page.textContent('#roleName'), ROLES[0].name);
    assert.equal(await page.textContent('#launchBtn'), '启动游戏');
    assert.equal(await page.evaluate(() => localStorage.getItem('ls_logged')), '1');
    assert.equal(await page.evaluate(() => localStorage.getItem('ls_name')), ROLES[0].name);
    // The avatar is asked of the skin site by role name; refused here, the built-in one stands in.
    await waitUntil(() => s.blocked.includes('https://littleskin.cn/avatar/player/' + encodeURIComponent(ROLES[0].name) + '?size=128'), 'the avatar request');
    await waitUntil(async () => (await page.getAttribute('#avatar', 'src')).startsWith('data:image/svg+xml'), 'the built-in avatar');

    // The role menu: the current role warns and sends nothing; another one switches.
    await page.click('#roleMenuBtn');
    assert.deepEqual(await page.$$eval('#roleMenu .roleItem', (els) => els.map((e) => e.textContent)), ROLES.map((r) => r.name));
    const before = (await s.sent()).length;
    await page.click(`#roleMenu .roleItem >> text=${ROLES[0].name}`);
    assert.equal((await s.waitForToast('你已经正在使用这个角色，请勿重复选择。')).kind, 'warn');
    assert.equal((await s.sent()).length, before);

    await page.click('#roleMenuBtn');
    await page.click('#roleMenu .roleItem >> text=Bob');
    assert.deepEqual((await s.sent()).at(-1), { type: 'role:change', id: ROLES[1].id, name: 'Bob' });
    await s.waitForEvent('role:changed');
    await s.waitForToast('已切换到 Bob');
    assert.equal(await page.textContent('#roleName'), 'Bob');
    assert.equal(await page.evaluate(() => localStorage.getItem('ls_role')), 'Bob');
    const refresh = site.requests.filter((r) => r.path === '/api/yggdrasil/authserver/refresh').at(-1);
    assert.deepEqual(refresh.body.selectedProfile, ROLES[1]);

    // Signing out: the page forgets the sign-in and the reloaded page shows the card again.
    const reloads = s.hostLines.filter((l) => l.type === 'host:reload').length;
    await page.click('#logoutBtn');
    await waitUntil(() => s.posted.some((c) => c.type === 'logout'), 'the logout command');
    await waitUntil(() => s.hostLines.filter((l) => l.type === 'host:reload').length > reloads, 'the reload after signing out');
    await s.settled();
    assert.deepEqual((await s.sent()).map((c) => c.type), ['sys:init'], 'a fresh page');
    assert.ok(await page.isVisible('#loginCard'));
    assert.ok(await page.isHidden('#dashboard'));
    assert.equal(await page.evaluate(() => localStorage.getItem('ls_logged')), null);
  } finally {
    await s.close();
    home.cleanup();
  }
});
