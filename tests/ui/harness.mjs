// The UI page in Chromium, wired to a real `lumivale --headless` through a test-only chrome.webview:
// page commands go to the launcher's stdin, its events reach the page as "message" events, and host
// lines (reload, pickers) are played as the window's host plays them.
import { spawn, execFileSync } from 'node:child_process';
import { mkdtempSync, mkdirSync, rmSync, readFileSync, writeFileSync, existsSync } from 'node:fs';
import { createServer } from 'node:http';
import { tmpdir } from 'node:os';
import { join, dirname, resolve } from 'node:path';
import { createInterface } from 'node:readline';
import { before, after } from 'node:test';
import assert from 'node:assert/strict';
import { fileURLToPath, pathToFileURL } from 'node:url';
import { chromium } from 'playwright-core';

const repo = resolve(dirname(fileURLToPath(import.meta.url)), '..', '..');
const pageUrl = pathToFileURL(join(repo, 'ui', 'index.html')).href;
export const JDK = '/usr/lib/jvm/java-17-openjdk-amd64';

let browser;
before(async () => {
  browser = await chromium.launch({ executablePath: process.env.LUMIVALE_CHROMIUM || '/usr/bin/chromium',
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync'] });
});
after(() => browser?.close());

// A fresh program folder, data folder and HOME.
export class TempHome {
  constructor() {
    this.root = mkdtempSync(join(tmpdir(), 'lumivale-ui-'));
    [this.program, this.data, this.home] = ['program', 'data', 'home'].map((dir) => join(this.root, dir));
    for (const dir of [this.program, this.data, this.home]) mkdirSync(dir);
    this.config = join(this.program, 'config.ini');
  }
  // One value of config.ini, by key (any section).
  ini(key) {
    return existsSync(this.config) ? readFileSync(this.config, 'utf8').match(new RegExp(`^${key}=(.*)$`, 'm'))?.[1] : undefined;
  }
}

// A signed-in player ("Steve", token "token-ui-test") and a 1.20.1 core whose jar holds `Game`,
// compiled from `source` (stored, padded above 10 MiB), started with `gameArguments`.
export function prepareGameHome(home, source, gameArguments) {
  const [build, core, store] = [join(home.root, 'build'), join(home.program, '.minecraft', 'versions', '1.20.1'), join(home.data, 'LumivaleLauncher')];
  for (const dir of [build, core, store]) mkdirSync(dir, { recursive: true, mode: 0o700 });
  writeFileSync(join(build, 'Game.java'), source);
  execFileSync(join(JDK, 'bin', 'javac'), ['-d', build, join(build, 'Game.java')]);
  writeFileSync(join(build, 'padding.bin'), Buffer.alloc(11 * 1024 * 1024));
  execFileSync(join(JDK, 'bin', 'jar'), ['--create', '--no-compress', '--file', join(core, '1.20.1.jar'), '-C', build, 'Game.class', '-C', build, 'padding.bin']);
  writeFileSync(join(core, '1.20.1.json'), JSON.stringify({ id: '1.20.1', type: 'release', mainClass: 'Game',
    minecraftArguments: '--username ${auth_player_name} ' + gameArguments }));
  writeFileSync(home.config, '[launcher]\nselected_java=auto\nmemory_mb=256\ngc_preset=g1_std\n');
  writeFileSync(join(store, 'orlu.json'), JSON.stringify({ cloud: { private_key: '' }, littleskin: {
    access_token: 'token-ui-test', client_token: 'c', current_role: 'Steve', current_role_id: '0123abcd' } }), { mode: 0o600 });
}

// Polls until `predicate` holds; the guard only stops a hang, it measures nothing.
export async function waitUntil(predicate, what) {
  for (const deadline = Date.now() + 60_000; ; await new Promise((r) => setTimeout(r, 25))) {
    try {
      const value = await predicate();
      if (value) return value;
    } catch (error) {
      // A page that the launcher is reloading is asked again once it stands.
      if (!/context was destroyed|navigat/i.test(String(error))) throw error;
    }
    if (Date.now() > deadline) throw new Error('timed out waiting for ' + (typeof what === 'function' ? await what() : what));
  }
}

// A reload with an error hands the text to the next document in its address; this makes it
// window.__bootError before any page script, as the window's host does. Toasts are recorded from
// the start, so no check races their fading. Only the page itself gets the bridge, not its frames.
const SHIM = `(() => {
  if (window.top !== window) return;
  const target = new EventTarget();
  const query = new URLSearchParams(location.search);
  if (query.has('lvBootError')) {
    window.__bootError = query.get('lvBootError');
    history.replaceState(null, '', location.pathname);
  }
  window.__lvSent = [];
  window.chrome = { webview: {
    postMessage(m) { if (typeof m === 'string') { window.__lvSent.push(m); window.__lvToHost(m); } },
    addEventListener(type, fn) { target.addEventListener(type, fn); },
    removeEventListener(type, fn) { target.removeEventListener(type, fn); },
  } };
  window.__lvToasts = [];
  new MutationObserver((records) => records.filter((r) => r.target.id === 'toasts').forEach((r) => r.addedNodes.forEach((n) =>
    window.__lvToasts.push({ kind: n.className.replace('toast ', ''), text: n.textContent }))))
    .observe(document, { childList: true, subtree: true });
  window.__lvDeliver = (data) => target.dispatchEvent(new MessageEvent('message', { data }));
})();`;

export class Session {
  // options: { home, env for the launcher, beforeLoad: async (context) => … }. Kept: the events the launcher
  // printed and its host:* lines, the outside addresses the page tried, and the paths to answer host:pick with.
  constructor({ home, env = {}, beforeLoad = null }) {
    Object.assign(this, { home, env, beforeLoad, stderr: '', queue: Promise.resolve(), consoleErrors: [] });
    Object.assign(this, { events: [], hostLines: [], blocked: [], pickAnswers: [] });
  }

  async start() {
    this.context = await browser.newContext({ viewport: { width: 1280, height: 800 } });
    // Nothing leaves the machine: the avatar and the registration frame are refused here.
    await this.context.route((url) => !['file:', 'data:'].includes(url.protocol), (route) => {
      this.blocked.push(route.request().url());
      return route.abort();
    });
    await this.context.exposeBinding('__lvToHost', (_source, message) => this.sendRaw(message));
    await this.context.addInitScript(SHIM);
    if (this.beforeLoad) await this.beforeLoad(this.context);
    this.page = await this.context.newPage();
    this.page.on('pageerror', (error) => this.consoleErrors.push(String(error)));
    // Remote sites point at a closed loopback port unless a test serves them.
    const nowhere = 'http://127.0.0.1:9';
    const env = { ...process.env, HOME: this.home.home, XDG_DATA_HOME: this.home.data, LUMIVALE_LITTLESKIN_BASE: nowhere,
      LUMIVALE_BACKEND_BASE: nowhere, LUMIVALE_MIRROR_BASE: nowhere + '/', LUMIVALE_AUTHLIB_INJECTOR_BASE: nowhere + '/',
      ...this.env };
    delete env.LUMIVALE_HOME;
    this.child = spawn(process.env.LUMIVALE_EXE || join(repo, 'build', 'bin', 'lumivale'), ['--headless', '--home', this.home.program], { env });
    this.exited = new Promise((done) => this.child.on('exit', done));
    this.child.stderr.on('data', (chunk) => { this.stderr += chunk; });
    this.child.stdin.on('error', () => {});
    createInterface({ input: this.child.stdout }).on('line', (line) => {
      const data = JSON.parse(line);
      if (data.type.startsWith('host:')) return this.playHostLine(data);
      this.events.push(data);
      this.deliver(data);
    });
    await this.page.goto(pageUrl);
    this.sendRaw('{"type":"host:loaded"}');
  }

  sendRaw(line) { if (this.child.stdin.writable) this.child.stdin.write(line + '\n'); }

  // Plays a host line as if the launcher had printed it; resolves once it has been played.
  playHostLine(line) {
    this.hostLines.push(line);
    if (line.type === 'host:reload') {
      this.#serial(async () => {
        await this.page.goto(pageUrl + (line.error ? '?lvBootError=' + encodeURIComponent(line.error) : ''));
        this.sendRaw('{"type":"host:loaded"}');
      });
    } else if (line.type === 'host:pick') {
      this.sendRaw(JSON.stringify({ type: 'host:picked', path: this.pickAnswers.shift() ?? '' }));
    }
    return this.queue;
  }

  // Once every reload and delivery so far has been played.
  settled() { return this.queue; }

  #serial(step) {
    this.queue = this.queue.then(step).catch((error) => { if (!this.closing) this.consoleErrors.push('delivery: ' + error); });
    return this.queue;
  }

  // Hands one event to the page as the launcher would; resolves once it was handled.
  deliver(data) { return this.#serial(() => this.page.evaluate((d) => window.__lvDeliver(d), data)); }

  // Every command the page posted in this document, parsed.
  async sent() { return (await this.page.evaluate(() => window.__lvSent)).map((text) => JSON.parse(text)); }

  waitForEvent(type, predicate = () => true) {
    return waitUntil(() => this.events.find((e) => e.type === type && predicate(e)),
      () => `event ${type}; events: ${this.events.map((e) => e.type)}; launcher said: ${this.stderr.slice(-2000)}`);
  }

  toasts() { return this.#serial(() => this.page.evaluate(() => window.__lvToasts)); }

  // Toasts are those of the current document, in order.
  waitForToast(text) {
    return waitUntil(async () => (await this.toasts()).find((t) => t.text === text),
      async () => `toast ${text}; shown: ${JSON.stringify(await this.toasts())}; errors: ${this.consoleErrors}`);
  }

  // Waits until the element's text is `expected` (or passes it, a function).
  waitText(selector, expected) {
    const ok = typeof expected === 'function' ? expected : (text) => text === expected;
    return waitUntil(async () => ok(await this.page.textContent(selector)), `${selector}: ${expected}`);
  }

  async close() {
    this.closing = true;
    await this.queue;
    this.child?.stdin.end();
    const timer = setTimeout(() => this.child?.kill('SIGKILL'), 20_000);
    await this.exited;
    clearTimeout(timer);
    await this.context?.close();
  }
}

// Runs `body` with a session on a fresh home (or the one given); the page must raise no script error.
export async function withSession(options, body) {
  const session = new Session({ ...options, home: options.home ?? new TempHome() });
  try {
    await session.start();
    await body(session, session.home, session.page);
    assert.deepEqual(session.consoleErrors, [], 'the page raised no script error');
  } finally {
    await session.close();
    rmSync(session.home.root, { recursive: true, force: true });
  }
}

// A loopback HTTP server whose handler gets the request body as text.
export async function serve(handler) {
  const server = createServer((request, response) => {
    let body = '';
    request.setEncoding('utf8').on('data', (chunk) => { body += chunk; }).on('end', () => handler(request, response, body));
  });
  await new Promise((r) => server.listen(0, '127.0.0.1', r));
  return { base: `http://127.0.0.1:${server.address().port}`, close: () => new Promise((r) => server.close(r)) };
}
