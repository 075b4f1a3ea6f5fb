// Starts what the browser tests need: the reference server, the Dorvex host with a scripted
// person, and Debian's Chromium through playwright-core.
import { spawn } from 'node:child_process';
import { mkdtempSync, mkdirSync, writeFileSync, rmSync, copyFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join, dirname } from 'node:path';
import { fileURLToPath } from 'node:url';

const here = dirname(fileURLToPath(import.meta.url));

export const bins = {
  dorvex: process.env.DORVEX_BIN,
  host: process.env.DORVEX_HOST_BIN,
  letters: process.env.DORVEX_LETTERS,
  chromium: process.env.CHROMIUM || '/usr/bin/chromium',
};

let playwright;
export async function loadPlaywright() {
  try {
    playwright = await import('playwright-core');
  } catch (e) {
    throw new Error('playwright-core is not installed: run `npm ci` in tests/browser (./build.sh does)');
  }
  return playwright.chromium;
}

const children = new Set();
process.on('exit', () => { for (const child of children) child.kill('SIGKILL'); });

// Starts a program and waits for the line that names its address.
function startListening(command, args, env, pattern) {
  return new Promise((resolve, reject) => {
    const child = spawn(command, args, { env: { ...process.env, ...env }, stdio: ['ignore', 'pipe', 'pipe'] });
    children.add(child);
    let out = '';
    let err = '';
    const timer = setTimeout(() => reject(new Error(command + ' did not start: ' + out + err)), 20000);
    child.stdout.on('data', (chunk) => {
      out += chunk;
      const found = out.match(pattern);
      if (found) {
        clearTimeout(timer);
        resolve({ child, port: Number(found[1]), output: () => out, errors: () => err });
      }
    });
    child.stderr.on('data', (chunk) => { err += chunk; });
    child.on('exit', (code) => {
      children.delete(child);
      clearTimeout(timer);
      reject(new Error(command + ' exited with ' + code + ': ' + out + err));
    });
  });
}

export function stop(started) {
  if (started && started.child.exitCode === null) started.child.kill('SIGTERM');
}

// A private work folder: settings (the file feeder loaded with the sample letters), temporary
// folder, server data.
export function workFolder(name) {
  const work = mkdtempSync(join(tmpdir(), 'dorvex-browser-' + name + '-'));
  mkdirSync(join(work, 'config', 'Dorvex'), { recursive: true });
  writeFileSync(join(work, 'config', 'Dorvex', 'Dorvex.ini'), '[Twain]\nSource=file:' + bins.letters + '\n');
  mkdirSync(join(work, 'folder'));
  return work;
}

export function removeWork(work) {
  rmSync(work, { recursive: true, force: true });
}

export async function startServer(work) {
  return startListening(bins.dorvex, ['server', '--listen', '127.0.0.1:0', '--data', join(work, 'data'),
    '--seed', join(here, 'demo-seed.xml')], {}, /listening on http:\/\/127\.0\.0\.1:(\d+)\//);
}

// `origins`: listed in the host's configuration. `consent`: the scripted person's answer.
export async function startHost(work, origins, consent, pause = 200, port = 0) {
  const config = join(work, 'host.ini');
  writeFileSync(config, '[Origins]\n' + origins.map((o) => o + '=ask\n').join(''));
  return startListening(bins.host, ['--port', String(port), '--config', config, '--scripted-person', '--person-pause',
    String(pause), '--person-folder', join(work, 'folder'), '--consent-answer', consent], {
    QT_QPA_PLATFORM: 'offscreen',
    XDG_CONFIG_HOME: join(work, 'config'),
    DORVEX_TMPDIR: join(work, 'tmp'),
  }, /listening on http:\/\/127\.0\.0\.1:(\d+)\//);
}

export function copyLetter(work, name, as) {
  copyFileSync(join(bins.letters, name), join(work, 'folder', as));
}

export async function launch(extraArgs = []) {
  const chromium = await loadPlaywright();
  // Chromium's sandbox needs user namespaces, which a container run as root lacks.
  return chromium.launch({ executablePath: bins.chromium, headless: true, args: ['--no-sandbox', ...extraArgs] });
}

export async function holdings(serverPort) {
  const reply = await fetch('http://127.0.0.1:' + serverPort + '/demo/holdings');
  return reply.json();
}
