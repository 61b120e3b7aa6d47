// Checks our IPP codec against two JavaScript implementations written
// elsewhere: the npm packages ipp-encoder 5.0.0 and ipp 1.1.0.
//
//   node ipp_interop.js TOOL WORKDIR
//
// (a) TOOL encode writes our fixed request; both packages decode it and every
//     value is checked.
// (b) Both packages encode messages; TOOL decode must print the expected dump.
//
// What the packages cannot represent, and how it is handled:
// - ipp-encoder has no collections, resolutions or ranges: it decodes their
//   bytes as strings (a collection comes out as the flat list of its member
//   items, which is checked as such) and cannot encode them. Resolutions,
//   ranges and nested collections are checked with the ipp package instead.
// - ipp 1.1.0 cannot encode collections (it writes every member value with
//   the memberAttrName tag, which is malformed and which our reader refuses)
//   nor dateTime or *WithLanguage values, and its dateTime decoder is wrong
//   (month off by one). The collection we read in (b) is therefore laid out
//   item by item (begCollection, memberAttrName, value, endCollection)
//   through ipp-encoder's generic attribute writer.
// - ipp-encoder's dateTime decoder ignores the sign of the UTC offset (right
//   only west of UTC) and its encoder writes the offset of the local zone, so
//   dates here use -03:30 (TZ America/St_Johns). East-of-UTC offsets are
//   covered by our unit tests only.
// - Neither package writes octetString bytes outside UTF-8, so the octet
//   strings exchanged here are ASCII.
'use strict'

const assert = require('assert')
const childProcess = require('child_process')
const fs = require('fs')
const path = require('path')

process.env.TZ = 'America/St_Johns'

const [tool, workdir] = process.argv.slice(2)
if (!tool || !workdir) {
  console.error('Usage: node ipp_interop.js TOOL WORKDIR')
  process.exit(2)
}

const modules = path.join(__dirname, 'node_modules')
function load (name) {
  try {
    return require(path.join(modules, name))
  } catch (e) {
    console.error(`ipp_interop: cannot load the npm package "${name}" from ${modules}: ${e.message}`)
    console.error('ipp_interop: install it with .ci/install-deps (npm ci in tests/interop)')
    process.exit(1)
  }
}
const encoder = load('ipp-encoder')
const ipp = load('ipp')

let passed = 0
let failed = 0
function check (what, fn) {
  try {
    fn()
    passed++
  } catch (e) {
    failed++
    console.error(`FAIL ${what}: ${e.message}`)
  }
}

if (new Date(Date.UTC(2025, 0, 15, 12)).getTimezoneOffset() !== 210) {
  console.error('ipp_interop: node has no time zone data for America/St_Johns (needs ICU with tz data)')
  process.exit(1)
}

fs.mkdirSync(workdir, { recursive: true })

function run (args) {
  return childProcess.execFileSync(tool, args, { encoding: 'utf8' })
}

// ---- (a) the packages decode what we encode ------------------------------

const ours = path.join(workdir, 'ours.ipp')
run(['encode', ours])
const bytes = fs.readFileSync(ours)

const OP = 0x01
const JOB = 0x02
const PRINTER = 0x04

// [group, name, value tag, values as ipp-encoder gives them]
const expectedFlat = [
  [OP, 'attributes-charset', 0x47, ['utf-8']],
  [OP, 'attributes-natural-language', 0x48, ['en-us']],
  [OP, 'printer-uri', 0x45, ['ipp://localhost:631/printers/lab']],
  [OP, 'requesting-user-name', 0x42, ['anna']],
  [OP, 'job-name', 0x36, [{ lang: 'fr', value: 'résumé' }]],
  [OP, 'document-format', 0x49, ['text/plain']],
  [OP, 'uri-scheme', 0x46, ['ipp']],
  [OP, 'job-message', 0x41, ['hello, world']],
  [OP, 'job-info', 0x35, [{ lang: 'de', value: 'Grüße' }]],
  [JOB, 'copies', 0x21, [3]],
  [JOB, 'number-up', 0x21, [1, -2, 2147483647]],
  [JOB, 'orientation-requested', 0x23, [4]],
  [JOB, 'flags', 0x22, [true, false]],
  [JOB, 'job-password', 0x30, ['s3cret']],
  [JOB, 'job-hold-until-time', 0x31, null], // checked below as a Date
  [JOB, 'printer-resolution', 0x32, null], // checked with the ipp package
  [JOB, 'page-ranges', 0x33, null], // checked with the ipp package
  [JOB, 'job-sheets', 0x44, ['none', 'standard']],
  // begCollection's empty value, then each member item's value in order.
  [JOB, 'media-col', 0x34, ['', 'media-size', '', 'x-dimension', 21000, 'y-dimension', 29700, '',
    'media-type', 'stationery', 'media-margins', 300, 600, '']],
  [JOB, 'job-priority', 0x13, ['']],
  [JOB, 'job-k-limit', 0x12, ['']],
  [JOB, 'job-quota', 0x10, ['']],
  [PRINTER, 'printer-info', 0x41, ['Lab printer']]
]

check('ipp-encoder decodes our request', () => {
  const msg = encoder.request.decode(bytes)
  assert.strictEqual(encoder.request.decode.bytes, bytes.length, 'bytes consumed')
  assert.deepStrictEqual(msg.version, { major: 1, minor: 1 })
  assert.strictEqual(msg.operationId, 0x0002)
  assert.strictEqual(msg.requestId, 314159)
  const flat = []
  for (const g of msg.groups) {
    for (const a of g.attributes) flat.push([g.tag, a.name, a.tag, a.value])
  }
  assert.deepStrictEqual(flat.map(a => a.slice(0, 3)), expectedFlat.map(a => a.slice(0, 3)), 'attributes')
  for (let i = 0; i < expectedFlat.length; i++) {
    if (expectedFlat[i][3] === null) continue
    assert.deepStrictEqual(flat[i][3], expectedFlat[i][3], expectedFlat[i][1])
  }
  const date = flat.find(a => a[1] === 'job-hold-until-time')[3]
  assert.strictEqual(date.length, 1)
  assert.strictEqual(date[0].toISOString(), '2025-01-15T12:00:00.500Z', 'dateTime at -03:30')
})

check('ipp decodes our request', () => {
  const oob = []
  ipp.parse.handleUnknownTag = (tag, name, length, read) => {
    oob.push([tag, name, length])
    return { outOfBand: tag }
  }
  const msg = ipp.parse(bytes)
  assert.strictEqual(msg.version, '1.1')
  assert.strictEqual(msg.operation, 'Print-Job')
  assert.strictEqual(msg.id, 314159)
  assert.strictEqual(msg.data, undefined, 'nothing after the end tag')
  const op = msg['operation-attributes-tag']
  assert.strictEqual(op['job-name'], 'fr\u001erésumé')
  assert.strictEqual(op['job-info'], 'de\u001eGrüße')
  assert.strictEqual(op['printer-uri'], 'ipp://localhost:631/printers/lab')
  const job = msg['job-attributes-tag']
  assert.deepStrictEqual(job['printer-resolution'], [[600, 300, 'dpi'], [240, 240, 'dpcm']])
  assert.deepStrictEqual(job['page-ranges'], [[1, 5], [9, 12]])
  assert.strictEqual(job['orientation-requested'], 'landscape')
  assert.deepStrictEqual(job['media-col'], {
    'media-size': { 'x-dimension': 21000, 'y-dimension': 29700 },
    'media-type': 'stationery',
    'media-margins': [300, 600]
  })
  assert.deepStrictEqual(job['job-priority'], { outOfBand: 0x13 })
  assert.deepStrictEqual(job['job-k-limit'], { outOfBand: 0x12 })
  assert.deepStrictEqual(job['job-quota'], { outOfBand: 0x10 })
  assert.deepStrictEqual(oob.map(o => o[2]), [0, 0, 0], 'out-of-band values are empty')
  assert.strictEqual(msg['printer-attributes-tag']['printer-info'], 'Lab printer')
})

// ---- (b) we decode what the packages encode ------------------------------

function decodeWithTool (name, buf) {
  const file = path.join(workdir, name)
  fs.writeFileSync(file, buf)
  return run(['decode', file])
}

function compareDump (what, got, expected) {
  const g = got.trimEnd().split('\n')
  const e = expected.trim().split('\n').map(l => l.trim())
  const lines = []
  for (let i = 0; i < Math.max(g.length, e.length); i++) {
    if (g[i] !== e[i]) lines.push(`line ${i + 1}: expected ${JSON.stringify(e[i])}, got ${JSON.stringify(g[i])}`)
  }
  assert.ok(lines.length === 0, `${what}:\n  ${lines.join('\n  ')}`)
}

check('we decode an ipp-encoder request', () => {
  const item = (tag, value) => ({ tag, name: '', value })
  // ipp-encoder names no collection tags (RFC 3382); these are the values.
  const C = Object.assign({ BEG_COLLECTION: 0x34, END_COLLECTION: 0x37, MEMBER_ATTR_NAME: 0x4A }, encoder.CONSTANTS)
  const msg = {
    version: { major: 1, minor: 0 },
    operationId: 0x0002,
    requestId: 4242,
    groups: [
      {
        tag: C.OPERATION_ATTRIBUTES_TAG,
        attributes: [
          { tag: C.CHARSET, name: 'attributes-charset', value: ['utf-8'] },
          { tag: C.NATURAL_LANG, name: 'attributes-natural-language', value: ['en'] },
          { tag: C.URI, name: 'printer-uri', value: ['ipp://127.0.0.1/printers/x'] },
          { tag: C.NAME_WITH_LANG, name: 'requesting-user-name', value: [{ lang: 'en', value: 'bob' }] },
          { tag: C.NAME_WITH_LANG, name: 'job-name', value: [{ lang: 'pl', value: 'Zażółć' }] },
          { tag: C.MIME_MEDIA_TYPE, name: 'document-format', value: ['application/pdf'] },
          { tag: C.URI_SCHEME, name: 'uri-scheme', value: ['ipps'] },
          { tag: C.TEXT_WITH_LANG, name: 'job-info', value: [{ lang: 'de', value: 'Straße' }, { lang: 'en', value: 'street' }] }
        ]
      },
      {
        tag: C.JOB_ATTRIBUTES_TAG,
        attributes: [
          { tag: C.INTEGER, name: 'copies', value: [2] },
          { tag: C.INTEGER, name: 'number-up', value: [-1, 0, 2147483647, -2147483648] },
          { tag: C.ENUM, name: 'finishings', value: [3, 4] },
          { tag: C.BOOLEAN, name: 'flags', value: [false, true] },
          { tag: C.OCTET_STRING, name: 'job-password', value: ['pa55'] },
          { tag: C.DATE_TIME, name: 'date-time-at-creation', value: [new Date(Date.UTC(2025, 0, 15, 12, 0, 0, 500))] },
          { tag: C.KEYWORD, name: 'job-sheets', value: ['none', 'standard'] },
          { tag: C.TEXT_WITHOUT_LANG, name: 'job-message', value: ['a;b{c}'] },
          { tag: C.NAME_WITHOUT_LANG, name: 'job-owner', value: ['carol'] },
          { tag: C.NO_VALUE, name: 'job-priority', value: [''] },
          { tag: C.UNKNOWN, name: 'job-k-limit', value: [''] },
          { tag: C.UNSUPPORTED, name: 'job-quota', value: [''] },
          // media-col = { media-size = { x-dimension = 10, y-dimension = 20 },
          //               media-type = stationery, transparency }
          { tag: C.BEG_COLLECTION, name: 'media-col', value: [''] },
          item(C.MEMBER_ATTR_NAME, 'media-size'), item(C.BEG_COLLECTION, ''),
          item(C.MEMBER_ATTR_NAME, 'x-dimension'), item(C.INTEGER, 10),
          item(C.MEMBER_ATTR_NAME, 'y-dimension'), item(C.INTEGER, 20),
          item(C.END_COLLECTION, ''),
          item(C.MEMBER_ATTR_NAME, 'media-type'), item(C.KEYWORD, 'stationery'), item(C.KEYWORD, 'transparency'),
          item(C.END_COLLECTION, '')
        ]
      },
      { tag: C.JOB_ATTRIBUTES_TAG, attributes: [{ tag: C.INTEGER, name: 'job-id', value: [7] }] },
      { tag: C.PRINTER_ATTRIBUTES_TAG, attributes: [{ tag: C.URI, name: 'printer-uri-supported', value: ['ipp://a/', 'ipps://b/'] }] }
    ],
    data: Buffer.from('%!PS-Adobe-3.0\n')
  }
  const got = decodeWithTool('ipp-encoder.ipp', encoder.request.encode(msg))
  compareDump('ipp-encoder request', got, `
    version 1.0
    op-status 0x0002
    request-id 4242
    operation-attributes-tag attributes-charset charset utf-8
    operation-attributes-tag attributes-natural-language naturalLanguage en
    operation-attributes-tag printer-uri uri ipp://127.0.0.1/printers/x
    operation-attributes-tag requesting-user-name nameWithLanguage en:bob
    operation-attributes-tag job-name nameWithLanguage pl:Za\\xc5\\xbc\\xc3\\xb3\\xc5\\x82\\xc4\\x87
    operation-attributes-tag document-format mimeMediaType application/pdf
    operation-attributes-tag uri-scheme uriScheme ipps
    operation-attributes-tag job-info textWithLanguage de:Stra\\xc3\\x9fe,en:street
    job-attributes-tag copies integer 2
    job-attributes-tag number-up integer -1,0,2147483647,-2147483648
    job-attributes-tag finishings enum 3,4
    job-attributes-tag flags boolean false,true
    job-attributes-tag job-password octetString pa55
    job-attributes-tag date-time-at-creation dateTime 2025-01-15T08:30:00.5-03:30
    job-attributes-tag job-sheets keyword none,standard
    job-attributes-tag job-message textWithoutLanguage a\\x3bb\\x7bc\\x7d
    job-attributes-tag job-owner nameWithoutLanguage carol
    job-attributes-tag job-priority no-value -
    job-attributes-tag job-k-limit unknown -
    job-attributes-tag job-quota unsupported -
    job-attributes-tag media-col begCollection {media-size begCollection {x-dimension integer 10;y-dimension integer 20};media-type keyword stationery,transparency}
    separator
    job-attributes-tag job-id integer 7
    printer-attributes-tag printer-uri-supported uri ipp://a/,ipps://b/
    rest 15
  `)
})

check('we decode an ipp request', () => {
  const buf = ipp.serialize({
    version: '1.1',
    operation: 'Get-Printer-Attributes',
    id: 99,
    'operation-attributes-tag': {
      'attributes-charset': 'utf-8',
      'attributes-natural-language': 'en',
      'printer-uri': 'ipp://127.0.0.1:631/printers/lab',
      'requested-attributes': ['printer-state', 'printer-resolution-supported']
    },
    'job-attributes-tag': {
      copies: 4,
      'printer-resolution': [[600, 300, 'dpi']],
      'page-ranges': [[1, 3], [7, 2147483647]],
      sides: 'two-sided-long-edge',
      'orientation-requested': 'reverse-landscape',
      'job-hold-until': 'indefinite'
    }
  })
  const got = decodeWithTool('ipp.ipp', buf)
  compareDump('ipp request', got, `
    version 1.1
    op-status 0x000b
    request-id 99
    operation-attributes-tag attributes-charset charset utf-8
    operation-attributes-tag attributes-natural-language naturalLanguage en
    operation-attributes-tag printer-uri uri ipp://127.0.0.1:631/printers/lab
    operation-attributes-tag requested-attributes keyword printer-state,printer-resolution-supported
    job-attributes-tag copies integer 4
    job-attributes-tag printer-resolution resolution 600x300dpi
    job-attributes-tag page-ranges rangeOfInteger 1-3,7-2147483647
    job-attributes-tag sides keyword two-sided-long-edge
    job-attributes-tag orientation-requested enum 5
    job-attributes-tag job-hold-until keyword indefinite
    rest 0
  `)
})

console.log(`ipp_interop: ${passed} passed, ${failed} failed`)
process.exit(failed ? 1 : 0)
