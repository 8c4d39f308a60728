// Prints every user table of a database as read by mdb-reader, for the
// tests to compare: a line "\x1DT" + table name, a line of column names,
// then one line per record; lines end in \x1C, fields are separated by
// \x1F, and no value is \x1E. Bytes (OLE objects, binary fields) print as
// "0x" and upper-case hex digits. Given several files, each one's tables
// follow a line "\x1DF" + its path.
import { readFileSync } from "node:fs";
import MDBReader from "mdb-reader";

function text(v) {
  if (v == null) return "\x1E";
  if (Buffer.isBuffer(v)) return "0x" + v.toString("hex").toUpperCase();
  return String(v);
}

const out = [];
for (const path of process.argv.slice(2)) {
  if (process.argv.length > 3) out.push("\x1DF" + path);
  const reader = new MDBReader(readFileSync(path));
  for (const name of reader.getTableNames()) {
    const table = reader.getTable(name);
    const columns = table.getColumnNames();
    out.push("\x1DT" + name, columns.join("\x1F"));
    for (const r of table.getData()) out.push(columns.map((c) => text(r[c])).join("\x1F"));
  }
}
process.stdout.write(out.join("\x1C") + "\x1C");
