// The settings screen ("启动") and the launch options screen ("设置") change config.ini through the
// real launcher. The page's clock is a fake one, so the 400 ms pause after typing is stepped exactly.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { mkdirSync, writeFileSync, truncateSync } from 'node:fs';
import { totalmem } from 'node:os';
import { join } from 'node:path';
import { withSession, TempHome, JDK, waitUntil, artifact } from './harness.mjs';

// A core folder the catalogue accepts: a jar above 10 MiB (sparse) and a version JSON.
function addCore(home, name, version) {
  const folder = join(home.program, '.minecraft', 'versions', name);
  mkdirSync(folder, { recursive: true });
  writeFileSync(join(folder, name + '.jar'), '');
  truncateSync(join(folder, name + '.jar'), 11 * 1024 * 1024);
  writeFileSync(join(folder, name + '.json'), JSON.stringify({ id: name, clientVersion: version, mainClass: 'Game' }));
  return folder;
}

test('the settings screens show the reports and store the version, the Java, the memory and the launch options', async () => {
  const home = new TempHome();
  const [modern, legacy] = [addCore(home, '1.20.1', '1.20.1'), addCore(home, 'Legacy 1.8.9', '1.8.9')];
  writeFileSync(home.config, '[launcher]\nselected_java=auto\nmemory_mb=2048\n');
  // What an earlier page kept for itself is not what the launch uses: the launcher's values are shown.
  const beforeLoad = async (context) => {
    await context.clock.install();
    await context.addInitScript((jdk) => { localStorage.setItem('ls_java', jdk + '/bin/java'); localStorage.setItem('ls_mem', '4096'); }, JDK);
  };
  await withSession({ home, env: { JAVA_HOME: JDK }, beforeLoad }, async (s, _, page) => {
    await page.clock.pauseAt(Date.now() + 1000);  // from here on the page's time moves only when the test says
    const configSets = async () => (await s.sent()).filter((c) => c.type === 'config:set');
    const stored = (key, value) => waitUntil(() => home.ini(key) === value, `${key}=${value} in config.ini`);
    await page.click('.nav[data-screen="settings"]');
    await waitUntil(async () => (await page.inputValue('#memInput')) === '2048', 'the memory of config.ini');
    assert.equal(await page.inputValue('#javaSelect'), 'auto');
    assert.equal(await page.$$eval('.presets .active', (els) => els.length), 0, 'no preset is 2048 MB');
    const memory = await s.waitForEvent('sys:memory');
    await s.waitText('#memTotal', `${memory.totalGB} GB`);
    assert.equal(await page.textContent('#memRec'), memory.recommendedG + 'G');
    await waitUntil(async () => (await page.$$eval('#coreSelect option', (els) => els.map((e) => e.textContent).sort().join())) === '1.20.1,Legacy 1.8.9', 'two cores');
    await page.selectOption('#coreSelect', legacy);
    await stored('selected_core', legacy);
    await s.waitText('#coreNote', (t) => t.startsWith('推荐 Java 8（1.8.0）'));
    await page.selectOption('#coreSelect', modern);
    await s.waitText('#coreNote', (t) => t.startsWith('推荐 Java 17（'));
    await s.waitText('#javaNote', (t) => t.startsWith('自动选择将使用：'));
    // The JDK found through JAVA_HOME is offered after the automatic choice.
    const java = await page.$$eval('#javaSelect option', (els) => els.map((e) => e.value));
    const jdk = java.find((value) => value.startsWith(JDK));
    assert.ok(java[0] === 'auto' && jdk, JSON.stringify(java));
    await page.selectOption('#javaSelect', jdk);
    await stored('selected_java', jdk);
    assert.equal(await page.textContent('#javaNote'), '启动时使用你选择的 Java');
    await page.click('[data-mem="4096"]');
    await stored('memory_mb', '4096');
    assert.deepEqual(await page.$$eval('.presets .active', (els) => els.map((e) => e.textContent)), ['4G']);
    await s.waitText('#saveNote', '已保存 ✓');
    // A typed amount is applied, kept between 512 MB and the machine's memory, and says why.
    const machineMb = Math.min(memory.totalGB * 1024, Math.floor(totalmem() / 1048576));
    for (const [typed, applied, note] of [['3000', 3000, ''], ['100', 512, '已调整为 512 MB：游戏至少需要 512 MB'],
      ['99999999', machineMb, (t) => t.startsWith(`已调整为 `) && t.includes('不能超过本机内存')]]) {
      await page.fill('#memInput', typed);
      await page.press('#memInput', 'Enter');
      await stored('memory_mb', String(applied));
      await waitUntil(async () => (await page.inputValue('#memInput')) === String(applied), `the field shows ${applied}`);
      await s.waitText('#memNote', note);
    }
    assert.equal(await page.$$eval('.presets .active', (els) => els.length), 0);
    await page.screenshot({ path: artifact('settings.png') });
    // A folder without Java is said on this screen, not as a failed game.
    s.pickAnswers.push(home.root);
    await page.click('#javaBrowseBtn');
    assert.equal((await s.waitForToast('这个文件夹里没有 java，请选择 Java 安装目录下的 bin 文件夹：' + home.root)).kind, 'warn');
    assert.ok(!s.events.some((e) => e.type === 'game:error'));

    // Launch options: a select sends all five at once; typing sends them once, 400 ms after the last key.
    await page.click('.nav[data-screen="options"]');
    assert.deepEqual((await s.sent()).at(-1), { type: 'sys:init' });
    await waitUntil(async () => (await page.inputValue('#serverPort')) === '25565', 'the port from sys:config');
    assert.ok(await page.isHidden('#jvmBox'));
    const five = (prio, gc, args, address, port) => [['process_priority', prio], ['gc_preset', gc],
      ['custom_jvm_args', args], ['server_address', address], ['server_port', port]].map(([key, value]) => ({ type: 'config:set', key, value }));
    let count = (await configSets()).length;
    await page.selectOption('#gcSelect', 'custom');
    assert.deepEqual((await configSets()).slice(count), five('medium', 'custom', '', '', 25565));
    assert.ok(await page.isVisible('#jvmBox'));
    count += 5;
    await page.selectOption('#prioSelect', 'high');
    await page.click('#jvmArgs');
    await page.keyboard.type('-Xss4m -Dlumi=1');
    await page.click('#serverAddr');
    await page.keyboard.type('  play.example.net ');
    await page.clock.runFor(399);
    assert.equal((await configSets()).length, count + 5, 'only the select before the pause is over');
    await page.clock.runFor(1);
    assert.deepEqual((await configSets()).slice(count + 5), five('high', 'custom', '-Xss4m -Dlumi=1', 'play.example.net', 25565));
    await page.clock.runFor(2000);
    assert.equal((await configSets()).length, count + 10, 'and nothing more');
    for (const [key, value] of [['process_priority', 'high'], ['gc_preset', 'custom'], ['custom_jvm_args', '-Xss4m -Dlumi=1'], ['server_address', 'play.example.net']]) {
      await stored(key, value);
    }
    // A port of 0 (or any text that is no port) is sent as 25565 and shown so.
    await page.fill('#serverPort', '0');
    await page.clock.runFor(400);
    assert.deepEqual((await configSets()).at(-1), { type: 'config:set', key: 'server_port', value: 25565 });
    await waitUntil(async () => (await page.inputValue('#serverPort')) === '25565', 'the port field shows 25565');
  });
});
