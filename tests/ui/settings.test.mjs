// The settings screen ("启动") and the launch options screen ("设置") change config.ini through the
// real launcher. The page's clock is a fake one, so the 400 ms pause after typing is stepped exactly.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { mkdirSync, writeFileSync, truncateSync } from 'node:fs';
import { join } from 'node:path';
import { withSession, TempHome, JDK, waitUntil } from './harness.mjs';

// A core folder the catalogue accepts: a jar above 10 MiB (sparse) and a version JSON.
function addCore(home, name, version) {
  const folder = join(home.program, '.minecraft', 'versions', name);
  mkdirSync(folder, { recursive: true });
  writeFileSync(join(folder, name + '.jar'), '');
  truncateSync(join(folder, name + '.jar'), 11 * 1024 * 1024);
  writeFileSync(join(folder, name + '.json'), JSON.stringify({ id: name, clientVersion: version, mainClass: 'Game' }));
  return folder;
}

const options = (home) => ({ home, env: { JAVA_HOME: JDK }, beforeLoad: (context) => context.clock.install() });
const configSets = async (s) => (await s.sent()).filter((c) => c.type === 'config:set');
const stored = (home, key, value) => waitUntil(() => home.ini(key) === value, `${key}=${value} in config.ini`);

test('the settings screen shows the reports and picks the version, the Java and the memory', async () => {
  const home = new TempHome();
  const modern = addCore(home, '1.20.1', '1.20.1');
  const legacy = addCore(home, 'Legacy 1.8.9', '1.8.9');
  writeFileSync(home.config, '[launcher]\nselected_java=auto\n');
  await withSession(options(home), async (s, _, page) => {
    await page.clock.pauseAt(Date.now() + 1000);
    await page.click('.nav[data-screen="settings"]');
    const memory = await s.waitForEvent('sys:memory');
    await s.waitText('#memTotal', `${memory.totalGB} GB`);
    assert.equal(await page.textContent('#memRec'), memory.recommendedG + 'G');
    await waitUntil(async () => (await page.$$eval('#coreSelect option', (els) => els.map((e) => e.textContent).sort().join())) === '1.20.1,Legacy 1.8.9', 'two cores');
    await page.selectOption('#coreSelect', legacy);
    await stored(home, 'selected_core', legacy);
    await s.waitText('#coreNote', (t) => t.startsWith('推荐 Java 8（1.8.0）'));
    await page.selectOption('#coreSelect', modern);
    await s.waitText('#coreNote', (t) => t.startsWith('推荐 Java 17（'));
    assert.equal(await page.evaluate(() => localStorage.getItem('ls_core')), modern);

    // The JDK found through JAVA_HOME is offered after the automatic choice.
    const java = await page.$$eval('#javaSelect option', (els) => els.map((e) => e.value));
    const jdk = java.find((value) => value.startsWith(JDK));
    assert.ok(java[0] === 'auto' && jdk, JSON.stringify(java));
    await page.selectOption('#javaSelect', jdk);
    await stored(home, 'selected_java', jdk);
    await page.selectOption('#javaSelect', 'auto');
    await stored(home, 'selected_java', 'auto');

    await page.click('[data-mem="4096"]');
    assert.deepEqual((await s.sent()).at(-1), { type: 'config:set', key: 'memory_mb', value: 4096 });
    await stored(home, 'memory_mb', '4096');
    assert.equal(await page.inputValue('#memInput'), '4096');
    // The number field keeps the page's value only.
    const before = (await configSets(s)).length;
    await page.fill('#memInput', '6000');
    assert.equal((await configSets(s)).length, before);
    assert.equal(await page.evaluate(() => localStorage.getItem('ls_mem')), '6000');
  });
});

test('launch options: selects send at once, typing sends the five commands once 400 ms after the last key', async () => {
  await withSession(options(new TempHome()), async (s, home, page) => {
    await page.clock.pauseAt(Date.now() + 1000);  // from here on the page's time moves only when the test says
    await page.click('.nav[data-screen="options"]');
    assert.deepEqual((await s.sent()).at(-1), { type: 'sys:init' });
    await s.waitForEvent('sys:config');
    await waitUntil(async () => (await page.inputValue('#serverPort')) === '25565', 'the port from sys:config');
    assert.ok(await page.isHidden('#jvmBox'));

    const five = (prio, gc, args, address, port) => [['process_priority', prio], ['gc_preset', gc],
      ['custom_jvm_args', args], ['server_address', address], ['server_port', port]].map(([key, value]) => ({ type: 'config:set', key, value }));
    let count = (await configSets(s)).length;
    await page.selectOption('#prioSelect', 'high');
    assert.deepEqual((await configSets(s)).slice(count), five('high', 'g1_optimized', '', '', 25565));
    await stored(home, 'process_priority', 'high');
    await page.selectOption('#gcSelect', 'custom');
    assert.ok(await page.isVisible('#jvmBox'));
    await stored(home, 'gc_preset', 'custom');

    count = (await configSets(s)).length;
    await page.click('#jvmArgs');
    await page.keyboard.type('-Xss4m -Dlumi=1');
    await page.click('#serverAddr');
    await page.keyboard.type('  play.example.net ');
    await page.clock.runFor(399);
    assert.equal((await configSets(s)).length, count, 'nothing before the pause is over');
    await page.clock.runFor(1);
    assert.deepEqual((await configSets(s)).slice(count), five('high', 'custom', '-Xss4m -Dlumi=1', 'play.example.net', 25565));
    await page.clock.runFor(2000);
    assert.equal((await configSets(s)).length, count + 5, 'and nothing more');
    await stored(home, 'custom_jvm_args', '-Xss4m -Dlumi=1');
    await stored(home, 'server_address', 'play.example.net');

    // A port of 0 (or any text that is no port) is sent as 25565 and shown so.
    await page.fill('#serverPort', '25570');
    await page.clock.runFor(400);
    await stored(home, 'server_port', '25570');
    await page.fill('#serverPort', '0');
    await page.clock.runFor(400);
    assert.deepEqual((await configSets(s)).at(-1), { type: 'config:set', key: 'server_port', value: 25565 });
    await stored(home, 'server_port', '25565');
    await waitUntil(async () => (await page.inputValue('#serverPort')) === '25565', 'the port field shows 25565');

    // A stored port outside the range is shown as 25565 when the launcher reports it.
    await s.deliver({ type: 'sys:config', process_priority: 'low', gc_preset: 'zgc', custom_jvm_args: '', server_address: '', server_port: 70000 });
    assert.equal(await page.inputValue('#serverPort'), '25565');
    assert.equal(await page.inputValue('#prioSelect'), 'low');
    assert.ok(await page.isHidden('#jvmBox'));
  });
});
