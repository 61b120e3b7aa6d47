// Sends one IPP request to vornd and prints the decoded response, using an
// IPP encoder and decoder written elsewhere (the npm package ipp-encoder in
// tests/interop/node_modules) and node's own HTTP client.
//
//   node ipp_request.js PORT RESOURCE REQUEST-JSON
//
// REQUEST-JSON: {"version": [major, minor], "operation": id, "requestId": n,
//   "groups": [{"tag": t, "attributes": [{"tag": vt, "name": "...",
//   "value": ["...", ...]}]}], "data": "document text"}
// Attributes are encoded in the order given, so malformed orders can be sent.
//
// Output, one item per line:
//   http STATUS
//   content-type TYPE
//   version MAJOR.MINOR
//   status 0xSSSS
//   request-id N
//   attr GROUP-TAG VALUE-TAG NAME VALUE[,VALUE...]   (tags in hex)
// Exit status 0 when a response was decoded, 1 otherwise (with a message).
'use strict'

const postIpp = require('./ipp_post')
const path = require('path')

const modules = path.join(__dirname, '..', 'interop', 'node_modules')
let encoder
try {
  encoder = require(path.join(modules, 'ipp-encoder'))
} catch (e) {
  console.error(`ipp_request: cannot load the npm package "ipp-encoder" from ${modules}: ${e.message}`)
  console.error('ipp_request: install it with .ci/install-deps (npm ci in tests/interop)')
  process.exit(1)
}

const [port, resource, json] = process.argv.slice(2)
if (!port || !resource || !json) {
  console.error('Usage: node ipp_request.js PORT RESOURCE REQUEST-JSON')
  process.exit(2)
}
const wanted = JSON.parse(json)

const message = {
  version: { major: wanted.version[0], minor: wanted.version[1] },
  operationId: wanted.operation,
  requestId: wanted.requestId,
  groups: wanted.groups || []
}
// encodingLength over-counts attributes with several values: keep what
// encode wrote.
const encoded = encoder.request.encode(message)
let body = encoded.slice(0, encoder.request.encode.bytes)
if (wanted.data) body = Buffer.concat([body, Buffer.from(wanted.data)])

const hex = (n, width) => n.toString(16).padStart(width, '0')

postIpp('ipp_request', port, resource, body, (res, data) => {
  const out = [`http ${res.statusCode}`, `content-type ${res.headers['content-type']}`]
  if (res.headers['content-type'] && res.headers['content-type'].startsWith('application/ipp')) {
    let decoded
    try {
      decoded = encoder.response.decode(data)
    } catch (e) {
      console.error(`ipp_request: the response cannot be decoded: ${e.message}`)
      process.exit(1)
    }
    out.push(`version ${decoded.version.major}.${decoded.version.minor}`)
    out.push(`status 0x${hex(decoded.statusCode, 4)}`)
    out.push(`request-id ${decoded.requestId}`)
    for (const group of decoded.groups) {
      for (const attr of group.attributes) {
        out.push(`attr ${hex(group.tag, 2)} ${hex(attr.tag, 2)} ${attr.name} ${attr.value.join(',')}`)
      }
    }
  }
  console.log(out.join('\n'))
  process.exit(0)
})
