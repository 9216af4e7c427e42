// The page client's declarations, generated from the module's JSDoc by the pinned
// TypeScript: `node types.mjs` writes page/client/webhelper-client.d.ts, and the type
// test checks that the file in the tree is what this makes.
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const HERE = path.dirname(fileURLToPath(import.meta.url));
export const TSC = path.join(HERE, 'node_modules/typescript/bin/tsc');
export const CLIENT_DIR = path.resolve(HERE, '../../page/client');
export const MODULE = path.join(CLIENT_DIR, 'webhelper-client.js');
export const DECLARATIONS = path.join(CLIENT_DIR, 'webhelper-client.d.ts');

const HEADER = '// The page client\'s types, generated from the JSDoc of webhelper-client.js by\n'
  + '// tests/browser/types.mjs: edit the module, then run `node tests/browser/types.mjs`.\n';

/** Runs the pinned tsc with args; returns { status, output }. */
export function tsc(args, cwd = HERE) {
  try {
    return { status: 0, output: execFileSync(process.execPath, [TSC, ...args], { cwd, encoding: 'utf8', stdio: 'pipe' }) };
  } catch (e) {
    return { status: e.status, output: `${e.stdout}${e.stderr}` };
  }
}

/** The declarations of the module as they should read. */
export function declarations() {
  const out = fs.mkdtempSync(path.join(os.tmpdir(), 'tovel-types-'));
  try {
    const run = tsc(['--allowJs', '--declaration', '--emitDeclarationOnly', '--strict', '--outDir', out, MODULE]);
    if (run.status !== 0) throw new Error(`tsc failed:\n${run.output}`);
    return HEADER + fs.readFileSync(path.join(out, 'webhelper-client.d.ts'), 'utf8');
  } finally {
    fs.rmSync(out, { recursive: true, force: true });
  }
}

if (process.argv[1] === fileURLToPath(import.meta.url)) {
  fs.writeFileSync(DECLARATIONS, declarations());
  console.log(`wrote ${DECLARATIONS}`);
}
