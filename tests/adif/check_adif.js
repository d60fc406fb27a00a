// Reads an exported ADIF file with an independent ADIF parser and checks
// that every contact came through whole.
//
//   node check_adif.js FILE.ADI EXPECTED_CONTACTS
//
// The file is 8-bit text whose lengths count bytes, so it is read as
// latin1: one character per byte.
'use strict';
const fs = require('fs');
const { AdifParser } = require('adif-parser-ts');

const [file, expected] = process.argv.slice(2);
const text = fs.readFileSync(file, 'latin1');
const adif = AdifParser.parseAdi(text);
const tags = ['call', 'freq', 'mode', 'qso_date', 'time_on', 'rst_sent', 'stx', 'rst_rcvd',
              'srx', 'qth', 'state', 'comment', 'cont', 'name', 'contest_id', 'notes'];
const failures = [];
if (!adif.header || !/exported from Tavisk database/.test(adif.header.text))
  failures.push('header not recognised');
if (adif.records.length !== Number(expected))
  failures.push(`${adif.records.length} records read, ${expected} expected`);
adif.records.forEach((r, i) => {
  for (const t of tags) if (!(t in r)) failures.push(`record ${i + 1}: no ${t}`);
  if (!/^\d{8}$/.test(r.qso_date)) failures.push(`record ${i + 1}: qso_date ${r.qso_date}`);
  if (!(Number(r.freq) > 0)) failures.push(`record ${i + 1}: freq ${r.freq}`);
  if (/\xD8/.test(r.call)) failures.push(`record ${i + 1}: slashed zero left in ${r.call}`);
});
for (const f of failures) console.log(f);
console.log(`${failures.length === 0 ? 1 : 0} passed, ${failures.length === 0 ? 0 : 1} failed`);
process.exit(failures.length === 0 ? 0 : 1);
