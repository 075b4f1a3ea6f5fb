// The control on a web page in headless Chromium: the demo page of the reference server and
// `dorvex-host` with a scripted person (Scan, Upload, Close) on the file feeder.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { createServer } from 'node:net';
import { readFileSync } from 'node:fs';
import * as h from './harness.mjs';

function freePort() {
  return new Promise((resolve) => {
    const server = createServer();
    server.listen(0, '127.0.0.1', () => {
      const { port } = server.address();
      server.close(() => resolve(port));
    });
  });
}

const screenshots = process.env.DORVEX_SCREENSHOTS;  // a folder to keep the demo page's picture in

// A page at `origin` that does not exist on the network: Chromium is handed its HTML.
// Chromium lets a secure page (https) reach the host on loopback once the person has granted it
// local network access, as they would when Chromium asks.
async function pageAt(browser, origin, html, path = '/') {
  const context = await browser.newContext({ permissions: ['local-network-access'] });
  const page = await context.newPage();
  await page.route(origin + path, (route) => route.fulfill({ contentType: 'text/html', body: html }));
  await page.goto(origin + path);
  return page;
}

// Loads orbscan.js from the host and connects; resolves to what happened within the time.
async function tryConnect(page, scriptHost, controlHost) {
  // The script from the host, or a copy of it served with the page.
  if (scriptHost) await page.addScriptTag({ url: scriptHost + '/orbscan.js' });
  else await page.addScriptTag({ content: readFileSync(new URL('../../web/orbscan.js', import.meta.url), 'utf8') });
  return page.evaluate(async (hostUrl) => {
    const events = [];
    const control = new OrbScan({ host: hostUrl });
    control.addEventListener('DebugMessage', () => events.push('DebugMessage'));
    control.addEventListener('AfterUpload', () => events.push('AfterUpload'));
    try {
      await control.ready;
      return { ready: true, events };
    } catch (e) {
      return { ready: false, code: e.code, number: e.number, message: e.message, events };
    }
  }, controlHost);
}

let browser;
before(async () => {
  for (const name of ['dorvex', 'host', 'letters']) assert.ok(h.bins[name], 'the test needs ' + name);
  browser = await h.launch(['--host-resolver-rules=MAP rebind.example.test 127.0.0.1']);
});
after(async () => { if (browser) await browser.close(); });

test('the demo page scans, uploads and hears the control\'s events', async () => {
  const work = h.workFolder('demo');
  h.copyLetter(work, '01.tif', '1150000201.tif');  // what the person picks for UploadDir
  const server = await h.startServer(work);
  const origin = 'http://127.0.0.1:' + server.port;
  const host = await h.startHost(work, [origin], 'once');
  try {
    const page = await browser.newPage();
    await page.goto(origin + '/demo/?host=http://127.0.0.1:' + host.port);
    await page.waitForSelector('#status.good', { timeout: 60000 });
    const finished = (name) => page.waitForFunction(
      (n) => document.getElementById('status').textContent.startsWith(n + ' ') &&
        !document.getElementById('multi').disabled, name, { timeout: 300000 });
    for (const [button, name] of [['#multi', 'ShowMultiTwain'], ['#single', 'ShowSingleTwain'], ['#uploaddir', 'UploadDir']]) {
      await page.click(button);
      await finished(name);
      assert.equal(await page.textContent('#status'), name + ' finished.');
    }
    const events = await page.$$eval('#log li', (items) => items.map((i) => i.textContent));
    assert.ok(events.some((e) => e.startsWith('DebugMessage: 上傳網址:' + origin + '/upload.php')), events.join('\n'));
    assert.ok(events.some((e) => /^DebugMessage: Inno=1150000101 \| ErrCode=0/.test(e)), events.join('\n'));
    assert.ok(events.includes('AfterUpload: 1150000201, 1, '), events.join('\n'));
    const held = await h.holdings(server.port);
    assert.deepEqual(held.map((d) => d.inno), ['1150000101', '1150000102', '1150000201']);
    assert.deepEqual(held.map((d) => d.pages), [2, 2, 1]);
    await page.waitForSelector('#holdings li[data-inno="1150000201"]');
    if (screenshots) await page.screenshot({ path: screenshots + '/demo-page.png', fullPage: true });
  } finally {
    h.stop(host);
    h.stop(server);
    h.removeWork(work);
  }
});

test('the page\'s options are the property bag and the control keeps its error numbers', async () => {
  const work = h.workFolder('props');
  const listed = 'https://desk.example.test';
  const host = await h.startHost(work, [listed], 'once');
  try {
    const page = await pageAt(browser, listed, '<!DOCTYPE html><title>props</title>');
    await page.addScriptTag({ url: 'http://127.0.0.1:' + host.port + '/orbscan.js' });
    const result = await page.evaluate(async () => {
      const fresh = new OrbScan();
      await fresh.ready;
      const read = new OrbScan({ SessionID: 'abc', OnlyScanList: false, Proxy: 'proxy:3128' });
      await read.ready;
      let readOnly;
      try {
        read.UploadReport = 'x';
      } catch (e) {
        readOnly = { number: e.number, message: e.message };
      }
      let cipher;
      read.EncServerURL = 'not a cipher text';
      try {
        await read.ShowMultiTwain('');
      } catch (e) {
        cipher = { number: e.number, code: e.code };
      }
      let unknown;
      try {
        new OrbScan({ Colour: 'red' });
      } catch (e) {
        unknown = e.number;
      }
      return {
        fresh: [fresh.OnlyScanList, fresh.ScanListVisible, fresh.EnableOCR, fresh.SessionId],
        read: [read.SessionId, read.OnlyScanList, read.Proxy, read.ScanListVisible], readOnly, cipher, unknown,
      };
    });
    assert.deepEqual(result.fresh, [true, true, false, '']);
    assert.deepEqual(result.read, ['abc', false, 'proxy:3128', true]);
    assert.deepEqual(result.readOnly, { number: 382, message: 'Property cannot be set at run time' });
    assert.deepEqual(result.cipher, { number: 9, code: 'control' });
    assert.equal(result.unknown, 5);
  } finally {
    h.stop(host);
    h.removeWork(work);
  }
});

test('a page from an origin not listed is refused and hears nothing', async () => {
  const work = h.workFolder('unlisted');
  const host = await h.startHost(work, ['https://desk.example.test'], 'always');
  try {
    const page = await pageAt(browser, 'https://elsewhere.example.test', '<!DOCTYPE html><title>elsewhere</title>');
    const hostUrl = 'http://127.0.0.1:' + host.port;
    const result = await tryConnect(page, hostUrl, hostUrl);
    assert.equal(result.ready, false);
    assert.equal(result.code, 'unreachable');
    assert.match(result.message, /not running, or this site is not allowed/);
    assert.deepEqual(result.events, []);
    const health = await page.evaluate((u) => OrbScan.isHostRunning(u), hostUrl);
    assert.equal(health.running, false);
    assert.match(health.message, /dorvex host allow https:\/\/elsewhere\.example\.test/);
    assert.doesNotMatch(host.output(), /scripted person/);
  } finally {
    h.stop(host);
    h.removeWork(work);
  }
});

test('a listed origin whose person denies gets a clear error', async () => {
  const work = h.workFolder('deny');
  const listed = 'https://desk.example.test';
  const host = await h.startHost(work, [listed], 'deny');
  try {
    const page = await pageAt(browser, listed, '<!DOCTYPE html><title>denied</title>');
    const hostUrl = 'http://127.0.0.1:' + host.port;
    const result = await tryConnect(page, hostUrl, hostUrl);
    assert.equal(result.ready, false);
    assert.equal(result.code, 'refused');
    assert.equal(result.message, 'The person at this desk did not allow ' + listed + ' to use the scanner.');
    const health = await page.evaluate((u) => OrbScan.isHostRunning(u), hostUrl);
    assert.equal(health.running, true);  // listed: it may know the host is there
  } finally {
    h.stop(host);
    h.removeWork(work);
  }
});

test('a host reached through another name (DNS rebinding) refuses', async () => {
  const work = h.workFolder('rebind');
  // rebind.example.test resolves to 127.0.0.1 in this browser, as an attacker's name would after
  // rebinding. Even listed, its pages are refused: their requests name another host.
  const port = await freePort();
  const rebound = 'http://rebind.example.test:' + port;
  const host = await h.startHost(work, [rebound], 'once', 200, port);
  try {
    const page = await pageAt(browser, rebound, '<!DOCTYPE html><title>rebound</title>', '/page');
    const script = await page.goto(rebound + '/orbscan.js');
    assert.equal(script.status(), 403);
    const result = await tryConnect(await pageAt(browser, rebound, '<title>r</title>', '/page'), null, rebound);
    assert.equal(result.ready, false);
    assert.equal(result.code, 'unreachable');
    assert.doesNotMatch(host.output(), /scripted person/);
  } finally {
    h.stop(host);
    h.removeWork(work);
  }
});

test('a message over the size limit closes that connection and the host goes on', async () => {
  const work = h.workFolder('oversize');
  const listed = 'https://desk.example.test';
  const host = await h.startHost(work, [listed], 'once');
  try {
    const hostUrl = 'http://127.0.0.1:' + host.port;
    const page = await pageAt(browser, listed, '<!DOCTYPE html><title>oversize</title>');
    await page.addScriptTag({ url: hostUrl + '/orbscan.js' });
    const result = await page.evaluate(async () => {
      const control = new OrbScan();
      await control.ready;
      control.Proxy = 'p'.repeat(100 * 1024);
      try {
        await control.AddInno('A1', 1, false, 'B1');
        return 'answered';
      } catch (e) {
        return e.code;
      }
    });
    assert.equal(result, 'disconnected');
    const again = await tryConnect(await pageAt(browser, listed, '<!DOCTYPE html><title>again</title>'), hostUrl, hostUrl);
    assert.equal(again.ready, true);
  } finally {
    h.stop(host);
    h.removeWork(work);
  }
});

test('the host keeps serving after a page leaves in the middle of a scan', async () => {
  const work = h.workFolder('leave');
  const server = await h.startServer(work);
  const origin = 'http://127.0.0.1:' + server.port;
  const host = await h.startHost(work, [origin], 'once', 1500);
  try {
    const demo = origin + '/demo/?host=http://127.0.0.1:' + host.port;
    const first = await browser.newPage();
    await first.goto(demo);
    await first.waitForSelector('#status.good', { timeout: 60000 });
    await first.click('#multi');
    await new Promise((resolve) => setTimeout(resolve, 500));
    await first.close();  // the window is open: the scripted person goes on with it
    const second = await browser.newPage();
    await second.goto(demo);
    await second.waitForSelector('#status.good', { timeout: 60000 });
    // The desk is busy until the person closes the first page's window.
    await second.click('#multi');
    await second.waitForFunction(() => /finished|failed/.test(document.getElementById('status').textContent),
      null, { timeout: 300000 });
    assert.match(await second.textContent('#status'), /^ShowMultiTwain failed: Another Dorvex window is open/);
    // Nothing was lost: the first page's window uploaded both letters.
    let held = [];
    for (let i = 0; i < 120 && held.length < 2; ++i) {
      await new Promise((resolve) => setTimeout(resolve, 500));
      held = await h.holdings(server.port);
    }
    assert.deepEqual(held.map((d) => d.inno), ['1150000101', '1150000102']);
    // Once the person has closed that window, the desk takes the next page's call.
    let status = '';
    for (let i = 0; i < 40 && status !== 'ShowMultiTwain finished.'; ++i) {
      await second.waitForFunction(() => !document.getElementById('multi').disabled);
      await second.click('#multi');
      await second.waitForFunction(() => /finished|failed/.test(document.getElementById('status').textContent) &&
        !document.getElementById('multi').disabled, null, { timeout: 300000 });
      status = await second.textContent('#status');
      if (status !== 'ShowMultiTwain finished.') await new Promise((resolve) => setTimeout(resolve, 500));
    }
    assert.equal(status, 'ShowMultiTwain finished.', host.output());
  } finally {
    h.stop(host);
    h.stop(server);
    h.removeWork(work);
  }
});
