// Builds the package: the decoding core and the entry layer compiled to
// WebAssembly with clang for wasm32-wasi, and the viewer's worker with the
// module inlined.
//
//   node build.mjs [--out DIR] [--clang PROGRAM] [--sysroot DIR]
//
// Without --out the package is completed in place (what npm pack runs);
// with it, a copy of the whole package is laid out in DIR.
import { execFileSync } from 'node:child_process';
import { copyFileSync, mkdirSync, readFileSync, statSync, writeFileSync } from 'node:fs';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';

const here = dirname(fileURLToPath(import.meta.url));
const root = resolve(here, '..');
const MAX_WASM_BYTES = 96 * 1024;

const CORE_SOURCES = ['header', 'plan', 'decode', 'rows', 'invert', 'cpu', 'layout', 'push'].map((name) =>
  join(root, 'decode', `${name}.cpp`),
);
// Package files copied as they are when the package is laid out elsewhere.
const PACKAGE_FILES = ['index.d.ts', 'README.md', 'lib/core.js', 'lib/node.js', 'lib/browser.js', 'viewer/index.html',
  'viewer/viewer.js'];

function option(name, fallback) {
  const at = process.argv.indexOf(name);
  return at > 0 && at + 1 < process.argv.length ? process.argv[at + 1] : fallback;
}

const out = resolve(option('--out', here));
const clang = option('--clang', process.env.TAVKO_WASM_CLANG || 'clang-14');
// Debian's clang finds wasi-libc and the wasm32 libc++ headers by itself.
const sysroot = option('--sysroot', process.env.TAVKO_WASI_SYSROOT);

function compile(wasm) {
  // No exceptions, no C++ runtime: every failure comes back as a status,
  // and nothing in the module can throw or abort for a bad picture.
  const flags = ['--target=wasm32-wasi', ...(sysroot ? [`--sysroot=${sysroot}`] : []), '-O3', '-std=c++17', '-fno-exceptions', '-fno-rtti',
    '-msimd128', '-mexec-model=reactor', '-Wall', '-Wextra', `-I${root}`, '-Wl,--strip-all', '-Wl,-z,stack-size=65536',
    '-Wl,--max-memory=4294967296', '-o', wasm];
  execFileSync(clang, [...flags, ...CORE_SOURCES, join(here, 'src', 'qvx_web.cpp')], { stdio: 'inherit' });
  const bytes = statSync(wasm).size;
  if (bytes > MAX_WASM_BYTES) throw new Error(`${wasm} has ${bytes} bytes, more than ${MAX_WASM_BYTES}`);
  // A module that needs anything from its host could not be instantiated
  // as the loaders do it, with no imports.
  const imports = WebAssembly.Module.imports(new WebAssembly.Module(readFileSync(wasm)));
  if (imports.length > 0) throw new Error(`${wasm} imports ${imports.map((i) => `${i.module}.${i.name}`).join(', ')}`);
}

// The viewer's worker as one script: the decoder's JavaScript and the
// module, wrapped in a function the page starts as a worker from its text,
// so that the viewer works from a folder on disk as well as from a server.
function workerScript(wasm) {
  const core = readFileSync(join(here, 'lib', 'core.js'), 'utf8').replace(/^export /gm, '');
  const worker = readFileSync(join(here, 'viewer', 'worker.js'), 'utf8');
  const base64 = readFileSync(wasm).toString('base64');
  return `// Made by build.mjs from lib/core.js, viewer/worker.js and lib/qvx.wasm.
function qvxWorkerMain() {
const QVX_WASM = '${base64}';
${core}
${worker}
}
if (typeof document === 'undefined') qvxWorkerMain();
`;
}

mkdirSync(join(out, 'lib'), { recursive: true });
mkdirSync(join(out, 'viewer'), { recursive: true });
const wasm = join(out, 'lib', 'qvx.wasm');
compile(wasm);
writeFileSync(join(out, 'viewer', 'qvx-worker.js'), workerScript(wasm));
copyFileSync(join(root, 'LICENSE'), join(out, 'LICENSE'));
if (out !== here) {
  for (const file of PACKAGE_FILES) copyFileSync(join(here, file), join(out, file));
  // The laid-out copy is packed as it is: nothing left to build.
  const manifest = JSON.parse(readFileSync(join(here, 'package.json'), 'utf8'));
  delete manifest.scripts;
  writeFileSync(join(out, 'package.json'), `${JSON.stringify(manifest, null, 2)}\n`);
}
console.log(`built ${wasm} (${statSync(wasm).size} bytes)`);
