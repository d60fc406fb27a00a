// Reads an ADIF 3 export with a strict ADIF 3 reader (tcadif), which refuses
// any value outside its data type or enumeration, and with the independent
// parser of check_adif.js; checks that both give back every contact of the
// log with the same call, date, time on, band, frequency and mode.
//
//   node check_adif3.js FILE.ADI CONTACTS.jsonl
//
// CONTACTS.jsonl is `logvane-cli dump` of the log in the export's order. The
// band expected is the one whose edges in tcadif's own band table hold the
// frequency.
'use strict';
const fs = require('fs');
const { ADIF, Field, Header, enums } = require('tcadif');
const { AdifParser } = require('adif-parser-ts');

const [file, contactsFile] = process.argv.slice(2);
const failures = [];
// Any warning a reader prints fails the check as well.
for (const level of ['warn', 'error']) {
  console[level] = (...args) => failures.push(`reader ${level}: ${args.join(' ')}`);
}

const bytes = fs.readFileSync(file);
const nonAscii = bytes.findIndex((b) => b > 0x7e || (b < 0x20 && b !== 0x0d && b !== 0x0a));
if (nonAscii >= 0) failures.push(`byte ${bytes[nonAscii]} at offset ${nonAscii} is not ASCII text`);
const text = bytes.toString('latin1');

const contacts = fs.readFileSync(contactsFile, 'utf8').split('\n').filter(Boolean).map((l) => JSON.parse(l));
const expected = contacts.map((c) => {
  const freq = Number(c.Freq);
  const band = Object.entries(enums.Band).find(
    ([, edges]) => Number(edges.lowerFreq) <= freq && freq <= Number(edges.upperFreq));
  return {
    call: c.Call.replace(/\u00d8/g, '0').toUpperCase(),
    date: c.QSODate.slice(0, 10).replace(/-/g, ''),
    time: c.TimeStart.replace(':', '').padStart(4, '0'),
    band: band ? band[0] : undefined,
    freq,
    mode: c.Mode.toUpperCase(),
  };
});

function compare(reader, records, get) {
  if (records.length !== expected.length)
    failures.push(`${reader}: ${records.length} contacts read, ${expected.length} expected`);
  records.forEach((r, i) => {
    const want = expected[i];
    if (!want) return;
    const got = {
      call: (get(r, 'CALL') ?? '').toUpperCase(),
      date: get(r, 'QSO_DATE'),
      time: get(r, 'TIME_ON'),
      band: get(r, 'BAND')?.toUpperCase(),
      freq: Number(get(r, 'FREQ')),
      mode: (get(r, 'MODE') ?? '').toUpperCase(),
    };
    for (const key of Object.keys(want)) {
      if (got[key] !== want[key])
        failures.push(`${reader}, contact ${i + 1}: ${key} ${got[key]}, expected ${want[key]}`);
    }
  });
}

try {
  const strict = ADIF.parse(text).toObject();
  // ADIF.parse keeps no header fields; the header is read field by field
  // and validated on its own.
  const entries = [];
  for (let rest = text, field; (field = Field.parse(rest)) && field.fieldName !== 'EOH';) {
    entries.push(field.toEntry());
    rest = rest.slice(field.bytesConsumed);
  }
  const header = new Header(Object.fromEntries(entries)).toObject();
  if (!/^3\.\d\.\d$/.test(header.ADIF_VER ?? '')) failures.push(`ADIF_VER ${header.ADIF_VER}`);
  if (header.PROGRAMID !== 'Logvane') failures.push(`PROGRAMID ${header.PROGRAMID}`);
  if (!header.CREATED_TIMESTAMP) failures.push('no CREATED_TIMESTAMP');
  compare('tcadif', strict.qsos, (r, tag) => r[tag]);
} catch (e) {
  failures.push(`tcadif refused the file: ${e.message} ${JSON.stringify({ ...e })}`);
}

const loose = AdifParser.parseAdi(text);
compare('adif-parser-ts', loose.records ?? [], (r, tag) => r[tag.toLowerCase()]);

for (const f of failures) process.stdout.write(`${f}\n`);
process.stdout.write(`${failures.length === 0 ? 1 : 0} passed, ${failures.length === 0 ? 0 : 1} failed\n`);
process.exit(failures.length === 0 ? 0 : 1);
