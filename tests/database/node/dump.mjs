// Prints every user table of a database as read by mdb-reader, for the
// tests to compare: a line "\x1DT" + table name, a line of column names,
// then one line per record; lines end in \x1C, fields are separated by
// \x1F, and no value is \x1E.
import { readFileSync } from "node:fs";
import MDBReader from "mdb-reader";

const reader = new MDBReader(readFileSync(process.argv[2]));
const out = [];
for (const name of reader.getTableNames()) {
  const table = reader.getTable(name);
  const columns = table.getColumnNames();
  out.push("\x1DT" + name, columns.join("\x1F"));
  for (const r of table.getData())
    out.push(columns.map((c) => (r[c] == null ? "\x1E" : String(r[c]))).join("\x1F"));
}
process.stdout.write(out.join("\x1C") + "\x1C");
