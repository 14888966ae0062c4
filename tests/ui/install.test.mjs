// "安装新版本" on the "启动" screen: the list from a loopback mirror, filtered and searched, a loader
// choice with its versions and the name that follows it, then an install cancelled on its way and
// one whose new version ends up selected.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { createHash } from 'node:crypto';
import { existsSync } from 'node:fs';
import { join } from 'node:path';
import { withSession, serve, waitUntil } from './harness.mjs';

const sha1 = (text) => createHash('sha1').update(text).digest('hex');
const nowhere = 'http://127.0.0.1:9/';

// The mirror's files: a manifest of three versions of which 1.20.1 is complete, its JSON, jar,
// library, asset index and one object, and Fabric's loader list.
function mirrorFiles() {
  const files = {};
  const add = (path, body) => { files[path] = body; return sha1(body); };
  const client = 'client jar bytes', library = 'library bytes', asset = 'asset bytes';
  const index = JSON.stringify({ objects: { 'a.txt': { hash: sha1(asset), size: asset.length } } });
  add(`/assets/${sha1(asset).slice(0, 2)}/${sha1(asset)}`, asset);
  add('/libraries/com/example/lib/1.0/lib-1.0.jar', library);
  add(`/v1/objects/${sha1(client)}/client.jar`, client);
  add(`/v1/packages/${sha1(index)}/idx.json`, index);
  const version = JSON.stringify({ id: '1.20.1', type: 'release', mainClass: 'Game', minecraftArguments: '--version ${version_name}',
    assetIndex: { id: 'idx', sha1: sha1(index), size: index.length, url: `${nowhere}meta/v1/packages/${sha1(index)}/idx.json` },
    downloads: { client: { sha1: sha1(client), size: client.length, url: `${nowhere}data/v1/objects/${sha1(client)}/client.jar` } },
    libraries: [{ name: 'com.example:lib:1.0', downloads: { artifact: { path: 'com/example/lib/1.0/lib-1.0.jar',
      url: `${nowhere}libraries/com/example/lib/1.0/lib-1.0.jar`, sha1: sha1(library), size: library.length } } }] });
  const versionSha = add(`/v1/packages/${sha1(version)}/1.20.1.json`, version);
  const entry = (id, type, date) => ({ id, type, url: `${nowhere}meta/v1/packages/${versionSha}/${id}.json`, sha1: versionSha, releaseTime: date });
  add('/mc/game/version_manifest_v2.json', JSON.stringify({ latest: { release: '1.20.1', snapshot: '23w31a' },
    versions: [entry('23w31a', 'snapshot', '2023-08-01T00:00:00+00:00'), entry('1.20.1', 'release', '2023-06-12T13:25:51+00:00'),
      entry('b1.7.3', 'old_beta', '2011-07-07T22:00:00+00:00')] }));
  add('/fabric-meta/v2/versions/loader/1.20.1', JSON.stringify([{ loader: { version: '0.16.0' } }, { loader: { version: '0.15.11' } }]));
  return files;
}

test('a version installs from the page and becomes the selected one', async () => {
  const files = mirrorFiles();
  // With `holdClient` set, the next request for the client jar waits until `releaseClient()`.
  let holdClient = false, releaseClient = null;
  const mirror = await serve(async (request, response) => {
    if (holdClient && request.url.endsWith('/client.jar')) {
      holdClient = false;
      await new Promise((resolve) => { releaseClient = resolve; });
    }
    const body = files[request.url];
    response.writeHead(body === undefined ? 404 : 200).end(body ?? '');
  });
  const env = { LUMIVALE_MIRROR_BASE: mirror.base + '/', LUMIVALE_FABRIC_META_BASE: nowhere, LUMIVALE_QUILT_META_BASE: nowhere,
    LUMIVALE_NEOFORGE_MAVEN_BASE: nowhere };
  for (const name of ['DATA', 'LIBRARIES', 'META', 'ASSETS', 'MAVEN']) env[`LUMIVALE_OFFICIAL_${name}_BASE`] = `${nowhere}${name.toLowerCase()}/`;
  try {
    await withSession({ env }, async (s, home, page) => {
      const listed = async () => page.$$eval('#verList .verItem', (rows) => rows.map((r) => r.getAttribute('data-id')));
      await page.click('.nav[data-screen="settings"]');
      // No core yet: the empty state points at the installer.
      await s.waitText('#coreNote', '还没有游戏版本：点击「安装新版本」下载一个');
      // A launch then names the screen that holds the choice.
      s.sendRaw('{"type":"game:launch"}');
      assert.equal((await s.waitForToast('启动失败：请先在「启动」页选择游戏版本和 Java')).kind, 'error');
      await page.click('#openInstallBtn');
      await waitUntil(async () => (await listed()).join() === '1.20.1', 'the releases');
      await page.click('#verFilters [data-filter="snapshot"]');
      assert.deepEqual(await listed(), ['23w31a']);
      await page.click('#verFilters [data-filter="old"]');
      assert.deepEqual(await listed(), ['b1.7.3']);
      await page.click('#verFilters [data-filter="release"]');
      await page.fill('#verSearch', '1.19');
      assert.deepEqual(await listed(), []);
      await page.fill('#verSearch', '20');
      assert.deepEqual(await listed(), ['1.20.1']);

      // The name follows the version and the loader until the player types one.
      await page.click('.verItem[data-id="1.20.1"]');
      assert.equal(await page.inputValue('#installName'), '1.20.1');
      await page.selectOption('#loaderSelect', 'fabric');
      await waitUntil(async () => (await page.inputValue('#installName')) === '1.20.1-fabric-0.16.0', 'the Fabric versions');
      assert.deepEqual(await page.$$eval('#loaderVersionSelect option', (els) => els.map((e) => e.value)), ['0.16.0', '0.15.11']);
      await page.selectOption('#loaderSelect', 'quilt');
      assert.ok(await page.isDisabled('#installBtn'), 'no Quilt version to install');
      await page.selectOption('#loaderSelect', '');
      assert.equal(await page.inputValue('#installName'), '1.20.1');

      // A first try is cancelled while a file is on its way; nothing is left running.
      holdClient = true;
      await page.click('#installBtn');
      await waitUntil(() => releaseClient, 'the client jar asked for');
      assert.ok(await page.isDisabled('#installBtn'));
      await page.click('#installCancelBtn');
      assert.deepEqual((await s.sent()).at(-1), { type: 'version:cancel' });
      await s.waitText('#installStatus', '已取消安装 1.20.1');
      assert.ok(await page.isHidden('#installCancelBtn'));
      releaseClient();

      await page.click('#installBtn');
      assert.deepEqual((await s.sent()).find((c) => c.type === 'version:install'),
        { type: 'version:install', id: '1.20.1', loader: '', loaderVersion: '', name: '1.20.1' });
      await s.waitForEvent('version:done');
      const folder = join(home.program, '.minecraft', 'versions', '1.20.1');
      await waitUntil(async () => (await page.inputValue('#coreSelect')) === folder, 'the new version selected');
      await waitUntil(() => home.ini('selected_core') === folder, 'the choice stored');
      await s.waitText('#installStatus', '✅ 安装完成：1.20.1');
      assert.equal(await page.textContent('.verItem[data-id="1.20.1"] .tag'), '已安装');
      assert.ok(existsSync(join(folder, '1.20.1.jar')));
      assert.ok(s.events.some((e) => e.type === 'version:progress' && e.name === '1.20.1'), 'progress was shown');
    });
  } finally {
    releaseClient?.();
    await mirror.close();
  }
});
