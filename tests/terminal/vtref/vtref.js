#!/usr/bin/env node
// vtref: what a reference VT engine (xterm.js, headless) shows for a byte
// stream. Reads the bytes from a file (or stdin), prints the visible screen
// as UTF-8 text, one row a line (trailing blanks cut), then a line
// "cursor ROW COL" (1-based) and, with --answers, what the engine would have
// sent back to the target (hex). Needs the npm package @xterm/headless
// (npm install @xterm/headless; set NODE_PATH to its node_modules).
//
//   node vtref.js [--cols 80] [--rows 24] [--answers] [FILE]
//
// Where engines differ on invalid UTF-8: xterm.js drops those bytes
// silently, while the VT emulation shows one U+FFFD for each.
'use strict';
const fs = require('fs');
const { Terminal } = require('@xterm/headless');

const args = process.argv.slice(2);
let cols = 80, rows = 24, answers = false, file = null;
for (let i = 0; i < args.length; i++) {
  if (args[i] === '--cols') cols = parseInt(args[++i], 10);
  else if (args[i] === '--rows') rows = parseInt(args[++i], 10);
  else if (args[i] === '--answers') answers = true;
  else file = args[i];
}
const data = fs.readFileSync(file === null ? 0 : file);
const term = new Terminal({ cols, rows, allowProposedApi: true, scrollback: 0 });
const sent = [];
term.onData(d => sent.push(Buffer.from(d, 'binary')));
term.onBinary(d => sent.push(Buffer.from(d, 'binary')));
term.write(new Uint8Array(data), () => {
  const buf = term.buffer.active;
  const out = [];
  for (let y = 0; y < rows; y++) {
    const line = buf.getLine(buf.viewportY + y);
    out.push(line ? line.translateToString(true) : '');
  }
  while (out.length && out[out.length - 1] === '') out.pop();
  process.stdout.write(out.join('\n') + '\n');
  process.stdout.write(`cursor ${buf.cursorY + 1} ${buf.cursorX + 1}\n`);
  if (answers) process.stdout.write('answers ' + Buffer.concat(sent).toString('hex') + '\n');
});
