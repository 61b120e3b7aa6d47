// Sends one query to vornd and prints the decoded reply group by group,
// with an IPP decoder written elsewhere (the npm package ipp-encoder in
// tests/interop/node_modules) and node's own HTTP client.
//
//   node query_client.js PORT OPERATION-ID [NAME=TAG:VALUE[,VALUE...]]...
//
// The operation group always starts with attributes-charset utf-8 and
// attributes-natural-language en; each NAME=TAG:VALUES argument adds one
// operation attribute (TAG in hex; integer tags 21 and 23 send numbers).
//
// Output, one item per line:
//   status 0xSSSS
//   group TAG            (hex; one line at the start of every group)
//   NAME=VALUE[,VALUE...]
// dateTime values are printed as "date". Exit status 0 when a reply was
// decoded, 1 otherwise (with a message).
'use strict'

const postIpp = require('./ipp_post')
const path = require('path')

const modules = path.join(__dirname, '..', 'interop', 'node_modules')
let encoder
try {
  encoder = require(path.join(modules, 'ipp-encoder'))
} catch (e) {
  console.error(`query_client: cannot load the npm package "ipp-encoder" from ${modules}: ${e.message}`)
  process.exit(1)
}

const [port, op, ...items] = process.argv.slice(2)
if (!port || !op) {
  console.error('Usage: node query_client.js PORT OPERATION-ID [NAME=TAG:VALUE[,VALUE...]]...')
  process.exit(2)
}

const attributes = [
  { tag: 0x47, name: 'attributes-charset', value: ['utf-8'] },
  { tag: 0x48, name: 'attributes-natural-language', value: ['en'] }
]
for (const item of items) {
  const m = /^([^=]+)=([0-9a-fA-F]+):(.*)$/.exec(item)
  if (!m) {
    console.error(`query_client: bad attribute "${item}"`)
    process.exit(2)
  }
  const tag = parseInt(m[2], 16)
  let values = m[3].split(',')
  if (tag === 0x21 || tag === 0x23) values = values.map(Number)
  if (tag === 0x22) values = values.map((v) => v === 'true')
  attributes.push({ tag, name: m[1], value: values })
}

const encoded = encoder.request.encode({
  version: { major: 1, minor: 1 },
  operationId: Number(op),
  requestId: 7,
  groups: [{ tag: 0x01, attributes }]
})
const body = encoded.slice(0, encoder.request.encode.bytes)

const show = (v) => (v instanceof Date ? 'date' : String(v))

postIpp('query_client', port, '/', body, (res, data) => {
  let decoded
  try {
    decoded = encoder.response.decode(data)
  } catch (e) {
    console.error(`query_client: the reply cannot be decoded: ${e.message}`)
    process.exit(1)
  }
  const out = [`status 0x${decoded.statusCode.toString(16).padStart(4, '0')}`]
  for (const group of decoded.groups) {
    out.push(`group ${group.tag.toString(16).padStart(2, '0')}`)
    for (const attr of group.attributes) out.push(`${attr.name}=${attr.value.map(show).join(',')}`)
  }
  console.log(out.join('\n'))
  process.exit(0)
})
