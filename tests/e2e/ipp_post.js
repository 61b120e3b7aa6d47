'use strict'
// POSTs an encoded IPP request to vornd on 127.0.0.1 with node's own http
// client and hands the reply (status, headers, body) to `done`. Errors and a
// reply that does not come within 20 seconds end the process with status 1,
// prefixed by `who`.
const http = require('http')

module.exports = function postIpp (who, port, resource, body, done) {
  const req = http.request({
    host: '127.0.0.1',
    port: Number(port),
    path: resource,
    method: 'POST',
    headers: { 'Content-Type': 'application/ipp', 'Content-Length': body.length }
  }, (res) => {
    const chunks = []
    res.on('data', (c) => chunks.push(c))
    res.on('end', () => done(res, Buffer.concat(chunks)))
  })
  req.setTimeout(20000, () => {
    console.error(`${who}: no reply within 20 seconds`)
    process.exit(1)
  })
  req.on('error', (e) => {
    console.error(`${who}: ${e.message}`)
    process.exit(1)
  })
  req.end(body)
}
