// Headless Chromium driven through the DevTools protocol over a pipe
// (--remote-debugging-pipe: NUL-ended JSON messages, the browser reading
// file descriptor 3 and writing 4), and a small static server on 127.0.0.1
// for the pages it opens. Used by the viewer test and the web benchmark.
import { spawn } from 'node:child_process';
import { existsSync, mkdtempSync, readFileSync, rmSync } from 'node:fs';
import { createServer } from 'node:http';
import { tmpdir } from 'node:os';
import { extname, join, normalize } from 'node:path';

const TYPES = {
  '.html': 'text/html; charset=utf-8',
  '.js': 'text/javascript',
  '.mjs': 'text/javascript',
  '.wasm': 'application/wasm',
  '.css': 'text/css',
};

// Serves files under the given prefixes ({ '/viewer/': dir, ... }) and
// extra pages ({ '/bench.html': text }); answers 404 to anything else.
export async function serve(folders, pages = {}) {
  const server = createServer((request, response) => {
    const path = decodeURIComponent(new URL(request.url, 'http://127.0.0.1').pathname);
    let body = pages[path];
    if (body === undefined) {
      const prefix = Object.keys(folders).find((p) => path.startsWith(p));
      const file = prefix && normalize(join(folders[prefix], path.slice(prefix.length)));
      if (file && file.startsWith(normalize(folders[prefix])) && existsSync(file)) body = readFileSync(file);
    }
    if (body === undefined) {
      response.writeHead(404).end();
      return;
    }
    response.writeHead(200, { 'Content-Type': TYPES[extname(path)] || 'application/octet-stream' }).end(body);
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  return { origin: `http://127.0.0.1:${server.address().port}`, close: () => server.close() };
}

export function chromiumPath() {
  const candidates = [process.env.TAVKO_CHROMIUM, '/usr/bin/chromium', '/usr/bin/chromium-browser'];
  return candidates.find((path) => path && existsSync(path)) || null;
}

// Starts the browser; resolves to a connection with send(method, params,
// sessionId), on(method, listener) and close().
export async function launch({ width = 1280, height = 900 } = {}) {
  const profile = mkdtempSync(join(tmpdir(), 'tavko-chromium-'));
  const args = ['--headless=new', '--remote-debugging-pipe', `--user-data-dir=${profile}`, '--no-first-run',
    '--no-default-browser-check', '--disable-extensions', '--disable-background-networking', '--disable-sync',
    '--disable-component-update', '--disable-gpu', '--mute-audio', `--window-size=${width},${height}`];
  if (process.getuid && process.getuid() === 0) args.push('--no-sandbox');
  const stdio = ['ignore', 'ignore', 'pipe', 'pipe', 'pipe'];
  const child = spawn(chromiumPath(), [...args, 'about:blank'], { stdio });
  let log = '';
  child.stderr.on('data', (data) => (log = (log + data).slice(-4000)));
  const pending = new Map(), listeners = new Map();
  let next = 0, buffer = Buffer.alloc(0);
  child.stdio[4].on('data', (data) => {
    buffer = Buffer.concat([buffer, data]);
    for (let end; (end = buffer.indexOf(0)) >= 0; buffer = buffer.subarray(end + 1)) {
      const message = JSON.parse(buffer.subarray(0, end).toString());
      const waiting = pending.get(message.id);
      if (waiting) {
        pending.delete(message.id);
        if (message.error) waiting.reject(new Error(`${waiting.method}: ${message.error.message}`));
        else waiting.resolve(message.result);
      } else if (message.method) {
        for (const listener of listeners.get(message.method) || []) listener(message.params, message.sessionId);
      }
    }
  });
  const exited = new Promise((resolve) => child.on('exit', resolve));
  exited.then(() => {
    for (const { reject } of pending.values()) reject(new Error(`chromium ended: ${log}`));
  });

  function send(method, params = {}, sessionId) {
    const id = ++next;
    const message = { id, method, params };
    if (sessionId) message.sessionId = sessionId;
    return new Promise((resolve, reject) => {
      pending.set(id, { resolve, reject, method });
      child.stdio[3].write(`${JSON.stringify(message)}\0`);
    });
  }
  function on(method, listener) {
    listeners.set(method, [...(listeners.get(method) || []), listener]);
  }
  async function close() {
    send('Browser.close').catch(() => {});
    const timer = setTimeout(() => child.kill('SIGKILL'), 5000);
    await exited;
    clearTimeout(timer);
    rmSync(profile, { recursive: true, force: true });
  }
  await send('Browser.getVersion');
  return { send, on, close };
}

// A new tab on url, loaded: resolves to { session, evaluate(expression),
// requests } (the address of every request the page has made).
export async function openPage(browser, url, { width = 1280, height = 900 } = {}) {
  const { targetId } = await browser.send('Target.createTarget', { url: 'about:blank' });
  const { sessionId: session } = await browser.send('Target.attachToTarget', { targetId, flatten: true });
  await browser.send('Page.enable', {}, session);
  const requests = [];
  browser.on('Network.requestWillBeSent', (params, from) => from === session && requests.push(params.request.url));
  await browser.send('Network.enable', {}, session);
  await browser.send('Emulation.setDeviceMetricsOverride', { width, height, deviceScaleFactor: 1, mobile: false },
    session);
  const loaded = new Promise((resolve) =>
    browser.on('Page.loadEventFired', (_, from) => from === session && resolve()));
  await browser.send('Page.navigate', { url }, session);
  await loaded;
  // Evaluates an expression in the page, awaiting a promise it gives.
  async function evaluate(expression) {
    const { result, exceptionDetails } = await browser.send('Runtime.evaluate',
      { expression, awaitPromise: true, returnByValue: true }, session);
    if (exceptionDetails) throw new Error(`${expression}: ${JSON.stringify(exceptionDetails)}`);
    return result.value;
  }
  return { session, evaluate, requests };
}
