// A clerk's day in Chromium: hundreds of page loads against one host, tabs closed while their
// window is open; the host then still serves and holds no more than it started with.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { readdirSync, readFileSync } from 'node:fs';
import * as h from './harness.mjs';

const listed = 'https://desk.example.test';
const loads = Number(process.env.DORVEX_SOAK_LOADS || 300);

function descriptors(pid) { return readdirSync('/proc/' + pid + '/fd').length; }
function residentMiB(pid) {
  const line = readFileSync('/proc/' + pid + '/status', 'utf8').split('\n').find((l) => l.startsWith('VmRSS:'));
  return Number(line.split(/\s+/)[1]) / 1024;
}

// What the host counts open, the asking connection left out, once it has let go all but
// `pages` pages.
async function settled(port, pages = 0) {
  let health;
  for (let i = 0; i < 100; ++i) {
    health = await (await fetch('http://127.0.0.1:' + port + '/health')).json();
    if (health.connections === 1 + pages && health.pages === pages) break;
    await new Promise((resolve) => setTimeout(resolve, 50));
  }
  return { connections: health.connections - 1, pages: health.pages };
}

let browser;
before(async () => {
  for (const name of ['host', 'letters']) assert.ok(h.bins[name], 'the test needs ' + name);
  browser = await h.launch();
});
after(async () => { if (browser) await browser.close(); });

test('hundreds of page loads and tabs closed mid-window leave the host as it was', async () => {
  const work = h.workFolder('soak');
  const host = await h.startHost(work, [listed], 'once', 50);
  const hostUrl = 'http://127.0.0.1:' + host.port;
  // The clerk's page: loads the script from the host and waits for the control.
  const html = '<!DOCTYPE html><title>loading</title><script src="' + hostUrl + '/orbscan.js"></script>' +
    '<script>window.control = new OrbScan(); control.ready.then(() => { document.title = "ready"; },' +
    ' (e) => { document.title = "failed: " + e.message; });</script>';
  const context = await browser.newContext({ permissions: ['local-network-access'] });
  await context.route(listed + '/', (route) => route.fulfill({ contentType: 'text/html', body: html }));
  const load = async (page) => {
    await page.goto(listed + '/');
    await page.waitForFunction(() => document.title !== 'loading', null, { timeout: 30000 });
    return page.title();
  };
  // A tab whose window is open when it is closed: the person finishes the window.
  const leaveMidWindow = async () => {
    const tab = await context.newPage();
    assert.equal(await load(tab), 'ready');
    await tab.evaluate(() => { control.ShowMultiTwain('').catch(() => {}); });
    await new Promise((resolve) => setTimeout(resolve, 200));
    await tab.close();
  };
  try {
    const page = await context.newPage();
    for (let i = 0; i < 10; ++i) assert.equal(await load(page), 'ready');
    await leaveMidWindow();
    assert.deepEqual(await settled(host.port, 1), { connections: 1, pages: 1 });
    const before = { fds: descriptors(host.child.pid), rss: residentMiB(host.child.pid) };

    for (let i = 0; i < loads; ++i) assert.equal(await load(page), 'ready', 'page load ' + i);
    for (let i = 0; i < 5; ++i) await leaveMidWindow();
    await page.close();

    const open = await settled(host.port);
    const afterwards = { fds: descriptors(host.child.pid), rss: residentMiB(host.child.pid) };
    console.log('soak: %d page loads, 6 tabs closed mid-window; descriptors %d -> %d; resident %s -> %s MiB',
      loads + 10, before.fds, afterwards.fds, before.rss.toFixed(1), afterwards.rss.toFixed(1));
    assert.deepEqual(open, { connections: 0, pages: 0 });
    assert.ok(afterwards.fds <= before.fds, 'descriptors ' + before.fds + ' -> ' + afterwards.fds);
    // A sanitizer build keeps freed memory in quarantine: there only the plain build's figure counts.
    if (process.env.DORVEX_SANITIZED !== '1') {
      assert.ok(afterwards.rss - before.rss <= 8, 'resident memory ' + before.rss + ' -> ' + afterwards.rss + ' MiB');
    }

    // A new page still gets the script, the control and a window.
    const fresh = await context.newPage();
    assert.equal(await load(fresh), 'ready');
    const result = await fresh.evaluate(async () => {
      try {
        await control.ShowSingleTwain();
        return 'finished';
      } catch (e) {
        return e.code + ': ' + e.message;
      }
    });
    assert.equal(result, 'finished');
  } finally {
    await context.close();
    h.stop(host);
    h.removeWork(work);
  }
});
