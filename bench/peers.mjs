// bench/peers.mjs: DuckDB beside zellogcat and the log reader over one log.
// Run through bench/peers.sh, which installs @duckdb/node-api under build/.
//
//   node bench/peers.mjs --log LOG --zellogcat BIN --bench-logread BIN [--threads N] [--repeat N]
//                        [--wine-run SCRIPT --wine-prefix DIR --zellogcat-exe EXE]
//
// With the wine options, the Windows zellogcat.exe runs beside the native one
// over the same log.
//
// DuckDB reads the log as lines, drops the directives and splits each data
// line as the current format's field list has it (the peer cannot follow the
// directives, so legacy blocks are read with the same layout): times with
// strptime, actions split at "+", the subject percent-decoded, the message
// to the end of the line, every column aggregated so that none is skipped.
// DuckDB takes only UTF-8 (or strict Latin-1) text, so it reads a UTF-8 twin
// of the log (its bytes read as Latin-1), made once beside it; throughput is
// counted on the log's own size for every reader.
import { spawnSync } from 'node:child_process';
import { closeSync, existsSync, mkdtempSync, openSync, readSync, renameSync, rmSync, statSync, writeSync } from 'node:fs';
import { tmpdir, availableParallelism, loadavg } from 'node:os';
import { join } from 'node:path';
import { createRequire } from 'node:module';

// The package lives where peers.sh installed it, not beside this script.
const { DuckDBInstance } = createRequire(join(process.env.ZELLOG_PEERS_DIR ?? '.', 'package.json'))('@duckdb/node-api');

const args = Object.fromEntries(
  process.argv.slice(2).reduce((pairs, arg, i, all) => (i % 2 === 0 ? [...pairs, [arg.replace(/^--/, ''), all[i + 1]]] : pairs), []));
const log = args.log;
const threads = Number(args.threads ?? availableParallelism());
const repeat = Number(args.repeat ?? 3);
const bytes = statSync(log).size;

function utf8Twin(path) {
  const twin = `${path}.utf8`;
  if (existsSync(twin) && statSync(twin).mtimeMs >= statSync(path).mtimeMs) return twin;
  const input = openSync(path, 'r');
  const output = openSync(`${twin}.partial`, 'w');
  const chunk = Buffer.alloc(16 << 20);
  for (let n; (n = readSync(input, chunk)) > 0;) writeSync(output, Buffer.from(chunk.subarray(0, n).toString('latin1'), 'utf8'));
  closeSync(input);
  closeSync(output);
  renameSync(`${twin}.partial`, twin);
  return twin;
}

const sqlText = (text) => `'${text.replaceAll("'", "''")}'`;

const everyColumn = `
  WITH lines AS (
    SELECT line FROM read_csv(${sqlText(utf8Twin(log))}, columns = {'line': 'VARCHAR'}, header = false, delim = '\\x01',
                              quote = '', escape = '', new_line = '\\r\\n', auto_detect = false)
    WHERE NOT starts_with(line, '#')),
  fields AS (SELECT string_split(line, ' ') AS f FROM lines)
  SELECT count(*) AS records,
         max(try_strptime(f[1], '%Y-%m-%dT%H:%M:%S')) AS last_time,
         count(DISTINCT f[2]) AS classes,
         sum(len(string_split(f[3], '+'))) AS actions,
         count(DISTINCT f[4]) AS filtering_points,
         count(DISTINCT f[5]) AS severities,
         sum(CASE WHEN len(string_split(f[6], '.')) = 4
                  THEN TRY_CAST(string_split(f[6], '.')[1] AS UBIGINT) * 16777216 + TRY_CAST(string_split(f[6], '.')[4] AS UBIGINT)
                  ELSE 0 END) AS ip_values,
         sum(length(f[7])) AS senders,
         sum(len(string_split(f[8], ';'))) AS recipients,
         sum(length(url_decode(replace(f[9], '+', ' ')))) AS subjects,
         sum(length(array_to_string(f[10:], ' '))) AS messages
  FROM fields`;

// The best wall-clock time of the runs, and the least CPU time (user and
// system, all threads) of any: on a machine shared with other work, CPU time
// says what a run costs, wall-clock time what threads gain when cores are free.
async function best(run) {
  let seconds = Infinity;
  let cpu = Infinity;
  for (let i = 0; i < repeat; ++i) {
    const start = process.hrtime.bigint();
    const cpuSeconds = await run();
    seconds = Math.min(seconds, Number(process.hrtime.bigint() - start) / 1e9);
    cpu = Math.min(cpu, cpuSeconds);
  }
  return { seconds, cpu };
}

function zellogcat(jobs, out = '/dev/null') {
  return timedRun([args.zellogcat, '-j', String(jobs), log], out);
}

// zellogcat.exe under wine, the log through wine's Z: drive.
function zellogcatExe(jobs) {
  const winLog = `Z:${log.replaceAll('/', '\\')}`;
  return timedRun([args['wine-run'], args['wine-prefix'], args['zellogcat-exe'], '-j', String(jobs), winLog], '/dev/null');
}

// Runs a command under the shell, whose "times" gives its children's CPU
// time (for wine, that of the Windows process, not of its server).
function timedRun(command, out) {
  const result = spawnSync('sh', ['-c', 'out="$1"; shift; "$@" > "$out" || exit $?; times', 'sh', out, ...command],
                           { stdio: ['ignore', 'pipe', 'inherit'], encoding: 'utf8' });
  if (result.status !== 0) throw new Error(`zellogcat exited with ${result.status}`);
  const children = result.stdout.trim().split('\n').pop().match(/(\d+)m([\d.]+)s\s+(\d+)m([\d.]+)s/);
  return children ? 60 * (Number(children[1]) + Number(children[3])) + Number(children[2]) + Number(children[4]) : NaN;
}

// The best ReadRecord time bench_logread reports over the same log.
function readRecordSeconds() {
  const result = spawnSync(args['bench-logread'], ['--file', log, '--size', String(bytes), '--repeat', String(repeat)], { encoding: 'utf8' });
  const line = result.stdout.split('\n').find((l) => l.startsWith('TLogFileReader::ReadRecord'));
  if (!line) throw new Error(`bench_logread gave no ReadRecord line:\n${result.stdout}${result.stderr}`);
  return Number(line.split(/\s+/)[1]);
}

async function duckdb(threadCount) {
  const instance = await DuckDBInstance.create(':memory:', { threads: String(threadCount) });
  const connection = await instance.connect();
  let rows;
  const times = await best(async () => {
    const cpu = process.cpuUsage();
    rows = (await connection.runAndReadAll(everyColumn)).getRowObjectsJson();
    const used = process.cpuUsage(cpu);
    return (used.user + used.system) / 1e6;
  });
  connection.closeSync();
  return { ...times, rows };
}

// zellogcat's JSON Lines read back by DuckDB: times, numbers and lists must
// arrive typed, not as text.
async function checkJsonTypes() {
  const dir = mkdtempSync(join(tmpdir(), 'zellog-peers-'));
  try {
    const jsonl = join(dir, 'records.jsonl');
    zellogcat(threads, jsonl);
    const instance = await DuckDBInstance.create(':memory:');
    const connection = await instance.connect();
    const reader = await connection.runAndReadAll(
      `DESCRIBE SELECT * FROM read_json(${sqlText(jsonl)}, format = 'newline_delimited')`);
    const types = Object.fromEntries(reader.getRowObjectsJson().map((row) => [row.column_name, row.column_type]));
    const expected = { Time: /^TIMESTAMP/, IPValue: /INT/, LineNr: /INT/, Actions: /\[\]$/, Subject: /^VARCHAR$/ };
    const wrong = Object.entries(expected).filter(([name, type]) => !type.test(types[name] ?? ''));
    const counted = (await connection.runAndReadAll(
      `SELECT count(*) AS n, count(DISTINCT "file") AS files, min("Time") AS first, sum(len("Actions")) AS actions
       FROM read_json(${sqlText(jsonl)}, format = 'newline_delimited') WHERE "LineNr" IS NOT NULL`)).getRowObjectsJson()[0];
    connection.closeSync();
    console.log(`read_json of zellogcat's output: ${Object.entries(types).map(([n, t]) => `${n} ${t}`).join(', ')}`);
    console.log(`  ${counted.n} records, first at ${counted.first}, ${counted.actions} actions`);
    if (wrong.length) {
      console.log(`  NOT TYPED AS EXPECTED: ${wrong.map(([name]) => `${name} (${types[name]})`).join(', ')}`);
      process.exitCode = 1;
    } else {
      console.log('  times, numbers and lists arrive typed');
    }
  } finally {
    rmSync(dir, { recursive: true, force: true });
  }
}

const mb = (seconds) => (bytes / 1e6 / seconds).toFixed(1).padStart(8);
const ratio = (reference, value) => `${(reference / value).toFixed(2).padStart(5)}x`;
// A run against a reference by wall-clock and by CPU time.
const line = (name, run, reference, referenceName) =>
  console.log(`${name.padEnd(30)} ${run.seconds.toFixed(3).padStart(7)} s ${mb(run.seconds)} MB/s ${run.cpu.toFixed(3).padStart(7)} s CPU` +
              (reference ? `   ${ratio(reference.seconds, run.seconds)} wall, ${ratio(reference.cpu, run.cpu)} CPU of ${referenceName}` : ''));
const loadAverage = () => loadavg().map((load) => load.toFixed(2)).join(' ');

console.log(`log: ${log} (${(bytes / 1048576).toFixed(1)} MiB); best of ${repeat}; ${threads} threads where more than one; load average ${loadAverage()}`);
const duck1 = await duckdb(1);
const duckN = await duckdb(threads);
console.log(`DuckDB's answer: ${JSON.stringify(duck1.rows[0])}`);
const cat1 = await best(() => zellogcat(1));
const catN = await best(() => zellogcat(threads));
const wine = args['zellogcat-exe'] && args['wine-run'] && args['wine-prefix'];
const exe1 = wine ? await best(() => zellogcatExe(1)) : null;
const exeN = wine ? await best(() => zellogcatExe(threads)) : null;
const readRecord = readRecordSeconds();
console.log();
line('DuckDB, 1 thread', duck1);
line(`DuckDB, ${threads} threads`, duckN, duck1, 'DuckDB 1 thread');
line('zellogcat -j 1 > /dev/null', cat1, duck1, 'DuckDB 1 thread');
line(`zellogcat -j ${threads} > /dev/null`, catN, duckN, `DuckDB ${threads} threads`);
line(`zellogcat -j ${threads} > /dev/null`, catN, cat1, 'zellogcat -j 1');
if (wine) {
  line('zellogcat.exe -j 1 (wine)', exe1, cat1, 'zellogcat -j 1');
  line(`zellogcat.exe -j ${threads} (wine)`, exeN, catN, `zellogcat -j ${threads}`);
  line(`zellogcat.exe -j ${threads} (wine)`, exeN, exe1, 'zellogcat.exe -j 1');
}
console.log(`${'TLogFileReader::ReadRecord'.padEnd(30)} ${readRecord.toFixed(3).padStart(7)} s ${mb(readRecord)} MB/s   ${ratio(duck1.seconds, readRecord)} wall of DuckDB 1 thread`);
console.log(`load average after the runs: ${loadAverage()}`);
console.log();
await checkJsonTypes();
