// Password sign-in as a player does it, against a loopback site that answers like LittleSkin's
// Yggdrasil server: empty fields, a refused password, the dashboard, the role menu, signing out.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { withSession, serve, waitUntil } from './harness.mjs';

const [USER, PASSWORD] = ['alice@example.com', 'pa"ss\\wörd'];
const ROLES = [{ id: 'a1b2c3d4e5f60718293a4b5c6d7e8f90', name: 'Alice星' }, { id: '0f9e8d7c6b5a49382716a5b4c3d2e1f0', name: 'Bob' }];

test('signing in warns about empty fields, ends on the dashboard with the role name; the role menu; signing out', async () => {
  const requests = [];
  let tokens = 0;
  // A refused password is answered only once the test lets it.
  let answerRefusal;
  const refusalMay = new Promise((resolve) => { answerRefusal = resolve; });
  const site = await serve(async (request, response, body) => {
    const json = JSON.parse(body || '{}');
    requests.push({ path: request.url, body: json });
    const user = { id: '7f3c2a10', username: USER, properties: [] };
    const signedIn = { accessToken: 'access-' + ++tokens, clientToken: json.clientToken, selectedProfile: json.selectedProfile, user };
    const [status, answer] = {
      '/api/yggdrasil/authserver/authenticate': json.password === PASSWORD && json.username === USER
        ? [200, { ...signedIn, availableProfiles: ROLES, selectedProfile: ROLES[0] }]
        : [403, { error: 'ForbiddenOperationException', errorMessage: '无效的凭证。请输入正确的"用户名"和密码' }],
      '/api/yggdrasil/authserver/refresh': [200, signedIn],
    }[request.url] ?? [404, { error: 'NotFound' }];
    if (status === 403) await refusalMay;
    response.writeHead(status, { 'Content-Type': 'application/json; charset=utf-8' });
    response.end(JSON.stringify(answer));
  });
  const reloads = (s) => s.hostLines.filter((l) => l.type === 'host:reload').length;
  const stored = (page, key) => page.evaluate((k) => localStorage.getItem(k), key);
  try {
    await withSession({ env: { LUMIVALE_LITTLESKIN_BASE: site.base, LUMIVALE_BACKEND_BASE: site.base } }, async (s, home, page) => {
      // Empty fields are refused by the page itself.
      await page.click('#loginBtn');
      assert.equal((await s.waitForToast('请输入 LittleSkin 账号')).kind, 'warn');
      await page.fill('#loginUser', USER);
      await page.press('#loginPass', 'Enter');
      await s.waitForToast('请输入密码');
      assert.deepEqual((await s.sent()).map((c) => c.type), ['sys:init'], 'nothing but the first command');

      // A refused password: while the site thinks, the button says so and takes no second click;
      // then the site's own message, and the card stays.
      await page.fill('#loginPass', 'wrong');
      await page.click('#loginBtn');
      await page.click('#loginBtn', { force: true });
      await page.press('#loginPass', 'Enter');
      await s.waitForEvent('yggdrasil:starting');
      assert.equal(await page.textContent('#loginBtn'), '正在登录…');
      assert.ok(await page.isDisabled('#loginBtn'));
      answerRefusal();
      assert.equal((await s.waitForToast('登录失败：无效的凭证。请输入正确的"用户名"和密码')).kind, 'error');
      assert.equal((await s.sent()).filter((c) => c.type === 'yggdrasil:login').length, 1, 'one request for three tries');
      assert.ok(await page.isVisible('#loginCard'));
      assert.ok(!(await page.isDisabled('#loginBtn')));
      assert.equal(await page.textContent('#loginBtn'), '登录');

      // The right password, typed with blanks around the name; Enter signs in.
      await page.fill('#loginUser', '  ' + USER + ' ');
      await page.fill('#loginPass', PASSWORD);
      await page.press('#loginPass', 'Enter');
      assert.equal((await s.waitForEvent('yggdrasil:success')).name, ROLES[0].name);
      const { username, password } = requests.filter((r) => r.path.endsWith('/authenticate')).at(-1).body;
      assert.deepEqual([username, password], [USER, PASSWORD], 'the name trimmed, the password as typed');
      assert.equal(reloads(s), 1, 'the page was reloaded after the sign-in');
      await waitUntil(async () => page.isVisible('#dashboard'), 'the dashboard');
      assert.equal(await page.textContent('#roleName'), ROLES[0].name);
      assert.deepEqual([await stored(page, 'ls_logged'), await stored(page, 'ls_name')], ['1', ROLES[0].name]);
      // The avatar is asked of the skin site by role name; refused here, the built-in one stands in.
      await waitUntil(async () => s.blocked.includes(`https://littleskin.cn/avatar/player/${encodeURIComponent(ROLES[0].name)}?size=128`) && (await page.getAttribute('#avatar', 'src')).startsWith('data:image/svg'), 'the avatar');

      // The role menu: the current role warns and sends nothing; another one switches.
      await page.click('#roleMenuBtn');
      assert.deepEqual(await page.$$eval('#roleMenu .roleItem', (els) => els.map((e) => e.textContent)), ROLES.map((r) => r.name));
      await page.click(`#roleMenu .roleItem >> text=${ROLES[0].name}`);
      assert.equal((await s.waitForToast('你已经正在使用这个角色，请勿重复选择。')).kind, 'warn');
      await page.click('#roleMenuBtn');
      await page.click('#roleMenu .roleItem >> text=Bob');
      assert.deepEqual((await s.sent()).filter((c) => c.type === 'role:change'), [{ type: 'role:change', id: ROLES[1].id, name: 'Bob' }]);
      await s.waitForToast('已切换到 Bob');
      assert.equal(await page.textContent('#roleMenuBtn'), '切换角色 ▾', 'the menu is free again once the launcher answered');
      assert.deepEqual([await page.textContent('#roleName'), await stored(page, 'ls_role')], ['Bob', 'Bob']);
      assert.deepEqual(requests.filter((r) => r.path.endsWith('/refresh')).at(-1).body.selectedProfile, ROLES[1]);

      // Signing out: the page forgets the sign-in and the reloaded page shows the card again.
      await page.click('#logoutBtn');
      await waitUntil(() => reloads(s) === 2, 'the reload after signing out');
      await s.settled();
      assert.deepEqual((await s.sent()).map((c) => c.type), ['sys:init'], 'a fresh page');
      assert.ok(await page.isVisible('#loginCard'));
      assert.equal(await stored(page, 'ls_logged'), null);
    });
  } finally {
    await site.close();
  }
});
