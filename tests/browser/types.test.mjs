// The page client's types, with the TypeScript pinned in package-lock.json: the module
// itself passes a strict check, its declarations are the ones its JSDoc makes, and a
// page written in TypeScript that installs the folder compiles against them and sees
// nothing of the client's inner workings. The version is the same in both places.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { describe, it } from 'node:test';
import { fileURLToPath } from 'node:url';
import { CLIENT_DIR, DECLARATIONS, MODULE, declarations, tsc } from './types.mjs';
import { VERSION } from '../../page/client/webhelper-client.js';

const PAGES = fileURLToPath(new URL('./pages/', import.meta.url));

describe('types of the page client', () => {
  it('passes a strict check of its JavaScript with no error', () => {
    const run = tsc(['--noEmit', '--allowJs', '--checkJs', '--strict', MODULE]);
    assert.equal(run.output, '');
    assert.equal(run.status, 0);
  });

  it('ships the declarations that its JSDoc makes', () => {
    assert.equal(fs.readFileSync(DECLARATIONS, 'utf8'), declarations(), 'run `node tests/browser/types.mjs`');
  });

  it('serves a TypeScript page that installs the folder, and only its public face', () => {
    const app = fs.mkdtempSync(path.join(os.tmpdir(), 'tovel-page-'));
    try {
      fs.writeFileSync(path.join(app, 'package.json'), '{"type": "module"}');
      fs.mkdirSync(path.join(app, 'node_modules'));
      fs.symlinkSync(CLIENT_DIR, path.join(app, 'node_modules/tovelwebhelper-client'));
      fs.copyFileSync(path.join(PAGES, 'consumer.ts'), path.join(app, 'consumer.ts'));
      const run = tsc(['--noEmit', '--strict', '--module', 'nodenext', '--moduleResolution', 'nodenext', '--target', 'es2022',
        '--lib', 'es2022,dom,dom.iterable,dom.asynciterable', 'consumer.ts'], app);
      assert.equal(run.output, '');
      assert.equal(run.status, 0);
    } finally {
      fs.rmSync(app, { recursive: true, force: true });
    }
  });

  it("compiles the README's examples strictly: each listener's detail is typed by its event's name", () => {
    const readme = fs.readFileSync(path.join(CLIENT_DIR, 'README.md'), 'utf8');
    const blocks = [...readme.matchAll(/```js\n([\s\S]*?)```/g)].map((m) => m[1]);
    assert.ok(blocks.length >= 2, 'the README shows the callbacks and the listeners');
    // What the examples leave to the page, typed as a page would write it.
    const prelude = [
      "import type { ClientStatus, HelperEvent } from './webhelper-client.js';",
      'declare function showGameOver(): void;',
      'declare function showScore(player: string, score: string): void;',
      'declare function startTheGame(): void;',
      'declare function showStatus(status: ClientStatus): void;',
      'declare function warn(message: string): void;',
      'declare function show(event: HelperEvent): void;',
      'declare const banner: HTMLElement;',
    ].join('\n');
    const app = fs.mkdtempSync(path.join(os.tmpdir(), 'tovel-readme-'));
    try {
      fs.writeFileSync(path.join(app, 'package.json'), '{"type": "module"}');
      for (const file of ['webhelper-client.js', 'webhelper-client.d.ts']) fs.copyFileSync(path.join(CLIENT_DIR, file), path.join(app, file));
      const names = blocks.map((block, i) => {
        const imports = /^import /m.test(block) ? '' : "import { HelperClient } from './webhelper-client.js';\n";
        fs.writeFileSync(path.join(app, `example-${i + 1}.ts`), `${imports}${prelude}\n${block}\nexport {};\n`);
        return `example-${i + 1}.ts`;
      });
      const run = tsc(['--noEmit', '--strict', '--module', 'nodenext', '--moduleResolution', 'nodenext', '--target', 'es2022',
        '--lib', 'es2022,dom,dom.iterable,dom.asynciterable', ...names], app);
      assert.equal(run.output, '');
      assert.equal(run.status, 0);
    } finally {
      fs.rmSync(app, { recursive: true, force: true });
    }
  });

  it('carries one version in the module and in its package.json', () => {
    const pkg = JSON.parse(fs.readFileSync(path.join(CLIENT_DIR, 'package.json'), 'utf8'));
    assert.equal(pkg.version, VERSION);
    assert.deepEqual(pkg.exports['.'], { types: './webhelper-client.d.ts', default: './webhelper-client.js' });
  });
});
