// The UI page in Chromium, wired to a real `lumivale --headless` through a chrome.webview shim:
// what the page posts goes to the launcher's stdin, what the launcher prints reaches the page as
// "message" events, and the host lines (reload, window actions, pickers) are played the way the
// window's host plays them.
import { spawn, execFileSync } from 'node:child_process';
import { mkdtempSync, mkdirSync, rmSync, readFileSync, existsSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join, dirname, resolve } from 'node:path';
import { fileURLToPath, pathToFileURL } from 'node:url';
import { createInterface } from 'node:readline';
import { chromium } from 'playwright-core';

const here = dirname(fileURLToPath(import.meta.url));
export const repo = resolve(here, '..', '..');
export const pageUrl = pathToFileURL(join(repo, 'ui', 'index.html')).href;
export const launcherExe = process.env.LUMIVALE_EXE || join(repo, 'build', 'bin', 'lumivale');
// Only a guard against a hang, never a speed check.
export const GUARD_MS = 60_000;

const PICTURES = ['bg.png', 'logo.png'].map((name) => readFileSync(join(repo, 'ui', name)).toString('base64'));
const CHROMIUM = process.env.LUMIVALE_CHROMIUM || '/usr/bin/chromium';
const CHROMIUM_FLAGS = ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
  '--disable-background-networking', '--disable-component-update', '--disable-sync'];

export function launchBrowser() {
  return chromium.launch({ executablePath: CHROMIUM, args: CHROMIUM_FLAGS });
}

// A fresh program folder, data folder and HOME, removed by cleanup().
export class TempHome {
  constructor() {
    this.root = mkdtempSync(join(tmpdir(), 'lumivale-ui-'));
    this.program = join(this.root, 'program');
    this.data = join(this.root, 'data');
    this.home = join(this.root, 'home');
    for (const dir of [this.program, this.data, this.home]) mkdirSync(dir, { recursive: true });
  }
  get config() { return join(this.program, 'config.ini'); }
  readConfig() { return existsSync(this.config) ? readFileSync(this.config, 'utf8') : ''; }
  cleanup() { rmSync(this.root, { recursive: true, force: true }); }
}

// One value of config.ini, by key (any section).
export function iniValue(text, key) {
  const match = text.match(new RegExp('^' + key + '[ \\t]*=[ \\t]*(.*?)[ \\t\\r]*$', 'm'));
  return match ? match[1] : undefined;
}

// Runs until `predicate` is true; rejects after the guard with `what` in the message.
export async function waitUntil(predicate, what, guardMs = GUARD_MS) {
  const deadline = Date.now() + guardMs;
  for (;;) {
    let value;
    try {
      value = await predicate();
    } catch (error) {
      // A page that is being reloaded by the launcher is asked again once it stands.
      if (!/context was destroyed|navigat/i.test(String(error))) throw error;
    }
    if (value) return value;
    if (Date.now() > deadline) throw new Error('timed out waiting for ' + what);
    await new Promise((r) => setTimeout(r, 25));
  }
}

// The test-only chrome.webview: strings go to the binding, events come from __lvDeliver.
// A reload with an error hands the text to the next document in its address, where this
// script makes it window.__bootError before any page script, as the window's host arranges it.
// Only the page itself gets the shim, not its registration frame.
const SHIM = `(() => {
  if (window.top !== window) return;
  const target = new EventTarget();
  window.__lvSent = [];
  const query = new URLSearchParams(location.search);
  if (query.has('lvBootError')) {
    window.__bootError = query.get('lvBootError');
    history.replaceState(null, '', location.pathname);
  }
  window.chrome = window.chrome || {};
  window.chrome.webview = {
    postMessage(message) {
      if (typeof message !== 'string') return;
      window.__lvSent.push(message);
      window.__lvToHost(message);
    },
    addEventListener(type, fn) { target.addEventListener(type, fn); },
    removeEventListener(type, fn) { target.removeEventListener(type, fn); },
  };
  // Every toast this document shows, kept after it fades, so no check races its lifetime.
  // Watched from before the first page script runs: a boot error is shown that early.
  window.__lvToasts = [];
  new MutationObserver((records) => {
    for (const record of records) {
      if (!record.target || record.target.id !== 'toasts') continue;
      for (const node of record.addedNodes) {
        if (node.nodeType === 1) window.__lvToasts.push({ kind: node.className.replace('toast ', ''), text: node.textContent });
      }
    }
  }).observe(document, { childList: true, subtree: true });
  window.__lvDeliver = (data) => target.dispatchEvent(new MessageEvent('message', { data }));
})();`;

export class Session {
  // options: { home: TempHome, env: {}, launcher: false to run the page alone,
  //            beforeLoad: async (context) => … (fake clock, stored page state) }
  static async open(browser, options) {
    const session = new Session(browser, options);
    await session.#start();
    return session;
  }

  constructor(browser, { home, env = {}, launcher = true, beforeLoad = null }) {
    this.browser = browser;
    this.beforeLoad = beforeLoad;
    this.home = home;
    this.env = env;
    this.withLauncher = launcher;
    this.events = [];        // parsed event objects the launcher printed, in order
    this.hostLines = [];     // host action lines (host:window, host:open, host:pick…)
    this.blocked = [];       // addresses outside the page that the page tried to load
    this.posted = [];        // every command the page posted, over all its loads, parsed
    this.stderr = '';
    this.pickAnswers = [];   // paths to answer host:pick with, in order ('' = cancelled)
    this.queue = Promise.resolve();
  }

  async #start() {
    this.context = await this.browser.newContext({ viewport: { width: 1280, height: 800 } });
    // Nothing leaves the machine: the avatar and the registration frame are refused here.
    await this.context.route((url) => url.protocol !== 'file:' && url.protocol !== 'data:', (route) => {
      this.blocked.push(route.request().url());
      return route.abort();
    });
    await this.context.exposeBinding('__lvToHost', (_source, message) => {
      try { this.posted.push(JSON.parse(message)); } catch { this.posted.push(message); }
      this.#toLauncher(message);
    });
    await this.context.addInitScript(SHIM);
    if (this.beforeLoad) await this.beforeLoad(this.context);
    this.page = await this.context.newPage();
    this.consoleErrors = [];
    this.page.on('pageerror', (error) => this.consoleErrors.push(String(error)));
    if (this.withLauncher) this.#spawn();
    await this.page.goto(pageUrl);
    this.#loaded();
  }

  #spawn() {
    // Remote sites point at a closed loopback port unless a test serves them.
    const nowhere = 'http://127.0.0.1:9';
    const env = {
      ...process.env, HOME: this.home.home, XDG_DATA_HOME: this.home.data,
      LUMIVALE_LITTLESKIN_BASE: nowhere, LUMIVALE_BACKEND_BASE: nowhere, LUMIVALE_MIRROR_BASE: nowhere + '/',
      ...this.env,
    };
    delete env.LUMIVALE_HOME;
    this.child = spawn(launcherExe, ['--headless', '--home', this.home.program], { env, stdio: ['pipe', 'pipe', 'pipe'] });
    this.exited = new Promise((resolveExit) => this.child.on('exit', (code) => resolveExit(code)));
    this.child.stderr.on('data', (chunk) => { this.stderr += chunk; });
    this.child.stdin.on('error', () => {});
    createInterface({ input: this.child.stdout }).on('line', (line) => this.#fromLauncher(line));
  }

  #toLauncher(message) {
    if (this.child && this.child.stdin.writable) this.child.stdin.write(message + '\n');
  }

  // After each load, as the window's host does: the page-ready report, then the two pictures.
  #loaded() {
    this.#toLauncher('{"type":"host:loaded"}');
    return this.#serial(() => this.page.evaluate(([bg, logo]) => {
      document.documentElement.style.setProperty('--bg', 'url("data:image/png;base64,' + bg + '")');
      document.documentElement.style.setProperty('--logo', 'url("data:image/png;base64,' + logo + '")');
    }, PICTURES));
  }

  #fromLauncher(line) {
    let data;
    try { data = JSON.parse(line); } catch { return; }
    if (!data || typeof data.type !== 'string') return;
    if (data.type.startsWith('host:')) {
      this.hostLines.push(data);
      this.#host(data);
      return;
    }
    this.events.push(data);
    this.deliver(data);
  }

  #host(line) {
    if (line.type === 'host:reload') {
      this.#serial(async () => {
        if (line.error) await this.page.goto(pageUrl + '?lvBootError=' + encodeURIComponent(line.error));
        else await this.page.reload();
        this.#loaded();
      });
    } else if (line.type === 'host:pick') {
      const path = this.pickAnswers.length ? this.pickAnswers.shift() : '';
      this.#toLauncher(JSON.stringify({ type: 'host:picked', path }));
    }
  }

  #serial(step) {
    this.queue = this.queue.then(step).catch((error) => {
      if (!this.closing) this.consoleErrors.push('delivery: ' + error);
    });
    return this.queue;
  }

  // Hands one event to the page as the launcher would; also used to play events directly.
  deliver(data) {
    return this.#serial(() => this.page.evaluate((d) => window.__lvDeliver(d), data));
  }

  // Plays a host line as if the launcher had printed it.
  playHostLine(line) {
    this.hostLines.push(line);
    this.#host(line);
    return this.queue;
  }

  // Resolves once every reload and delivery so far has been played.
  settled() { return this.queue; }

  // Writes a raw line to the launcher's stdin.
  sendRaw(line) { this.#toLauncher(line); }

  // Every command the page posted in this document, parsed.
  async sent() {
    return (await this.page.evaluate(() => window.__lvSent)).map((text) => JSON.parse(text));
  }

  async waitForEvent(type, predicate = () => true) {
    try {
      return await waitUntil(() => this.events.find((e) => e.type === type && predicate(e)), 'event ' + type);
    } catch (error) {
      error.message += '\nevents: ' + JSON.stringify(this.events.map((e) => e.type)) +
        '\nlauncher said: ' + this.stderr.slice(-2000);
      throw error;
    }
  }

  async waitForSent(predicate, what) {
    return waitUntil(async () => (await this.sent()).find(predicate), what);
  }

  // Every toast the current document has shown, in order.
  toasts() {
    return this.#serial(() => this.page.evaluate(() => window.__lvToasts));
  }

  async waitForToast(text) {
    try {
      return await waitUntil(async () => (await this.toasts()).find((t) => t.text === text), 'toast ' + text);
    } catch (error) {
      error.message += '\nshown: ' + JSON.stringify(await this.toasts()) + '\nhost: ' + JSON.stringify(this.hostLines) +
        '\nscript errors: ' + JSON.stringify(this.consoleErrors);
      throw error;
    }
  }

  async close() {
    this.closing = true;
    await this.queue;
    if (this.child) {
      this.child.stdin.end();
      const timer = setTimeout(() => this.child.kill('SIGKILL'), 20_000);
      await this.exited;
      clearTimeout(timer);
    }
    await this.context.close();
  }
}

// A loopback HTTP server from a handler; resolves with its base URL.
export async function serve(handler) {
  const { createServer } = await import('node:http');
  const server = createServer(handler);
  await new Promise((r) => server.listen(0, '127.0.0.1', r));
  const { port } = server.address();
  return { server, base: `http://127.0.0.1:${port}`, close: () => new Promise((r) => server.close(r)) };
}

export function readBody(request) {
  return new Promise((resolveBody) => {
    let body = '';
    request.setEncoding('utf8');
    request.on('data', (chunk) => { body += chunk; });
    request.on('end', () => resolveBody(body));
  });
}

export function hasJavac() {
  try {
    execFileSync('javac', ['-version'], { stdio: 'ignore' });
    return true;
  } catch {
    return false;
  }
}
