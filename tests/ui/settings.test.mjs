// The settings screen ("启动") and the launch options screen ("设置") change config.ini through
// the real launcher. The page's clock is a fake one here, so the 400 ms pause after typing is
// stepped through exactly instead of waited for.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { mkdirSync, writeFileSync, openSync, ftruncateSync, closeSync } from 'node:fs';
import { join } from 'node:path';
import { launchBrowser, Session, TempHome, iniValue, waitUntil } from './harness.mjs';

const JDK = '/usr/lib/jvm/java-17-openjdk-amd64';

let browser;
before(async () => { browser = await launchBrowser(); });
after(async () => { await browser?.close(); });

// A core folder the catalogue accepts: a jar above 10 MiB (sparse) and a version JSON.
function addCore(home, name, version) {
  const folder = join(home.program, '.minecraft', 'versions', name);
  mkdirSync(folder, { recursive: true });
  const fd = openSync(join(folder, name + '.jar'), 'w');
  ftruncateSync(fd, 11 * 1024 * 1024);
  closeSync(fd);
  writeFileSync(join(folder, name + '.json'), JSON.stringify({ id: name, clientVersion: version, mainClass: 'Game' }));
  return folder;
}

const configSets = async (s) => (await s.sent()).filter((c) => c.type === 'config:set');

async function openSession(home) {
  const session = await Session.open(browser, {
    home,
    env: { JAVA_HOME: JDK },
    beforeLoad: (context) => context.clock.install(),
  });
  // From here on the page's time moves only when the test moves it.
  await session.page.clock.pauseAt(Date.now() + 1000);
  return session;
}

test('the settings screen picks the version, the Java and the memory', async () => {
  const home = new TempHome();
  const modern = addCore(home, '1.20.1', '1.20.1');
  const legacy = addCore(home, 'Legacy 1.8.9', '1.8.9');
  writeFileSync(home.config, '[launcher]\nselected_java=auto\n');
  const s = await openSession(home);
  try {
    const { page } = s;
    await page.click('.nav[data-screen="settings"]');
    await waitUntil(async () => (await page.$$eval('#coreSelect option', (els) => els.length)) === 2, 'two cores');
    assert.deepEqual(await page.$$eval('#coreSelect option', (els) => els.map((e) => e.textContent).sort()),
      ['1.20.1', 'Legacy 1.8.9']);

    await page.selectOption('#coreSelect', legacy);
    await waitUntil(() => iniValue(home.readConfig(), 'selected_core') === legacy, 'selected_core in config.ini');
    await waitUntil(async () => (await page.textContent('#coreNote')).startsWith('推荐 Java 8（1.8.0）'), 'the Java 8 note');
    await page.selectOption('#coreSelect', modern);
    await waitUntil(async () => (await page.textContent('#coreNote')).startsWith('推荐 Java 17（'), 'the Java 17 note');
    assert.equal(await page.evaluate(() => localStorage.getItem('ls_core')), modern);

    // The JDK found through JAVA_HOME is offered after the automatic choice.
    const javaOptions = await page.$$eval('#javaSelect option', (els) => els.map((e) => ({ value: e.value, text: e.textContent })));
    assert.equal(javaOptions[0].value, 'auto');
    const jdk = javaOptions.find((o) => o.value.startsWith(JDK));
    assert.ok(jdk, JSON.stringify(javaOptions));
    await page.selectOption('#javaSelect', jdk.value);
    await waitUntil(() => iniValue(home.readConfig(), 'selected_java') === jdk.value, 'selected_java in config.ini');
    await page.selectOption('#javaSelect', 'auto');
    await waitUntil(() => iniValue(home.readConfig(), 'selected_java') === 'auto', 'auto in config.ini');

    await page.click('[data-mem="4096"]');
    assert.deepEqual((await s.sent()).at(-1), { type: 'config:set', key: 'memory_mb', value: 4096 });
    await waitUntil(() => iniValue(home.readConfig(), 'memory_mb') === '4096', 'memory_mb=4096');
    assert.equal(await page.inputValue('#memInput'), '4096');
    // The number field keeps the page's value only.
    const before = (await configSets(s)).length;
    await page.fill('#memInput', '6000');
    assert.equal((await configSets(s)).length, before);
    assert.equal(await page.evaluate(() => localStorage.getItem('ls_mem')), '6000');
  } finally {
    await s.close();
    home.cleanup();
  }
});

test('launch options: selects send at once, typing sends the five commands once 400 ms after the last key', async () => {
  const home = new TempHome();
  const s = await openSession(home);
  try {
    const { page } = s;
    await page.click('.nav[data-screen="options"]');
    assert.deepEqual((await s.sent()).at(-1), { type: 'sys:init' });
    await s.waitForEvent('sys:config');
    await waitUntil(async () => (await page.inputValue('#serverPort')) === '25565', 'the port from sys:config');
    assert.ok(await page.isHidden('#jvmBox'));

    const five = (commands) => commands.slice(-5).map((c) => c.key);
    const order = ['process_priority', 'gc_preset', 'custom_jvm_args', 'server_address', 'server_port'];

    let count = (await configSets(s)).length;
    await page.selectOption('#prioSelect', 'high');
    let sets = await configSets(s);
    assert.equal(sets.length, count + 5);
    assert.deepEqual(five(sets), order);
    assert.deepEqual(sets.at(-5), { type: 'config:set', key: 'process_priority', value: 'high' });
    await waitUntil(() => iniValue(home.readConfig(), 'process_priority') === 'high', 'priority high');

    await page.selectOption('#gcSelect', 'custom');
    assert.ok(await page.isVisible('#jvmBox'));
    count = (await configSets(s)).length;
    await waitUntil(() => iniValue(home.readConfig(), 'gc_preset') === 'custom', 'gc custom');

    await page.click('#jvmArgs');
    await page.keyboard.type('-Xss4m -Dlumi=1');
    await page.click('#serverAddr');
    await page.keyboard.type('  play.example.net ');
    await page.clock.runFor(399);
    assert.equal((await configSets(s)).length, count, 'nothing before the pause is over');
    await page.clock.runFor(1);
    sets = await configSets(s);
    assert.equal(sets.length, count + 5, 'the five commands, once');
    assert.deepEqual(sets.slice(-5), [
      { type: 'config:set', key: 'process_priority', value: 'high' },
      { type: 'config:set', key: 'gc_preset', value: 'custom' },
      { type: 'config:set', key: 'custom_jvm_args', value: '-Xss4m -Dlumi=1' },
      { type: 'config:set', key: 'server_address', value: 'play.example.net' },
      { type: 'config:set', key: 'server_port', value: 25565 },
    ]);
    await page.clock.runFor(2000);
    assert.equal((await configSets(s)).length, count + 5, 'and nothing more');
    await waitUntil(() => iniValue(home.readConfig(), 'custom_jvm_args') === '-Xss4m -Dlumi=1', 'the JVM arguments');
    await waitUntil(() => iniValue(home.readConfig(), 'server_address') === 'play.example.net', 'the address, trimmed');

    // A port of 0 (or any text that is no port) is sent as 25565 and shown so.
    await page.fill('#serverPort', '25570');
    await page.clock.runFor(400);
    await waitUntil(() => iniValue(home.readConfig(), 'server_port') === '25570', 'port 25570');
    await page.fill('#serverPort', '0');
    await page.clock.runFor(400);
    assert.deepEqual((await configSets(s)).at(-1), { type: 'config:set', key: 'server_port', value: 25565 });
    await waitUntil(() => iniValue(home.readConfig(), 'server_port') === '25565', 'port back to 25565');
    await waitUntil(async () => (await page.inputValue('#serverPort')) === '25565', 'the port field shows 25565');

    // A launch option stored outside the range is shown as 25565 when the launcher reports it.
    await s.deliver({ type: 'sys:config', process_priority: 'low', gc_preset: 'zgc', custom_jvm_args: '',
      server_address: '', server_port: 70000 });
    assert.equal(await page.inputValue('#serverPort'), '25565');
    assert.equal(await page.inputValue('#prioSelect'), 'low');
    assert.ok(await page.isHidden('#jvmBox'));
  } finally {
    await s.close();
    home.cleanup();
  }
});
