// Submits a burst of Print-Job requests to vornd and waits until the queue
// has printed them, with an IPP encoder written elsewhere (the npm package
// ipp-encoder in tests/interop/node_modules) and node's own HTTP client.
//
//   node burst_client.js PORT PRINTER COUNT CONCURRENCY SECONDS [DOCUMENT-TEXT]
//
// COUNT jobs are sent over CONCURRENCY kept-alive connections; then Get-Jobs
// is asked every 50 ms until no job is active, or SECONDS have passed.
// Output, one figure per line:
//   accepted N        (Print-Job answered successful-ok)
//   refused N         (any other status, or no answer)
//   active N          (jobs not finished when the waiting ended)
//   submit_ms N       (first request to last reply)
//   complete_ms N     (first request to an empty queue)
// Exit status 0 when every job was accepted and the queue emptied in time.
'use strict'

const http = require('http')
const path = require('path')

const modules = path.join(__dirname, '..', 'interop', 'node_modules')
let encoder
try {
  encoder = require(path.join(modules, 'ipp-encoder'))
} catch (e) {
  console.error(`burst_client: cannot load the npm package "ipp-encoder" from ${modules}: ${e.message}`)
  process.exit(1)
}

const [port, printer, countText, concurrencyText, secondsText, text] = process.argv.slice(2)
const count = Number(countText)
const concurrency = Number(concurrencyText)
const seconds = Number(secondsText)
if (!port || !printer || !(count > 0) || !(concurrency > 0) || !(seconds > 0)) {
  console.error('Usage: node burst_client.js PORT PRINTER COUNT CONCURRENCY SECONDS [DOCUMENT-TEXT]')
  process.exit(2)
}
const document = Buffer.from(text || 'burst job\n')
const printerUri = `ipp://localhost:${port}/printers/${printer}`
const agent = new http.Agent({ keepAlive: true, maxSockets: concurrency })

function encode (op, id, attributes) {
  const groups = [{
    tag: 0x01,
    attributes: [
      { tag: 0x47, name: 'attributes-charset', value: ['utf-8'] },
      { tag: 0x48, name: 'attributes-natural-language', value: ['en'] },
      { tag: 0x45, name: 'printer-uri', value: [printerUri] },
      ...attributes
    ]
  }]
  const body = encoder.request.encode({ version: { major: 1, minor: 1 }, operationId: op, requestId: id, groups })
  return body.slice(0, encoder.request.encode.bytes)
}

// Posts one request; calls done(status or -1, decoded reply or null).
function post (body, done) {
  const req = http.request({
    host: '127.0.0.1',
    port: Number(port),
    path: `/printers/${printer}`,
    method: 'POST',
    agent,
    headers: { 'Content-Type': 'application/ipp', 'Content-Length': body.length }
  }, (res) => {
    const chunks = []
    res.on('data', (c) => chunks.push(c))
    res.on('end', () => {
      try {
        const reply = encoder.response.decode(Buffer.concat(chunks))
        done(reply.statusCode, reply)
      } catch (e) {
        done(-1, null)
      }
    })
  })
  req.setTimeout(20000, () => req.destroy(new Error('no reply within 20 seconds')))
  req.on('error', () => done(-1, null))
  req.end(body)
}

const start = Date.now()
const deadline = start + seconds * 1000
let accepted = 0
let refused = 0
let next = 0
let running = 0
let submitMs = 0

function submitNext () {
  while (running < concurrency && next < count) {
    const n = ++next
    running++
    const body = Buffer.concat([
      encode(0x0002, n, [
        { tag: 0x42, name: 'requesting-user-name', value: ['burst'] },
        { tag: 0x42, name: 'job-name', value: [`burst-${n}`] },
        { tag: 0x49, name: 'document-format', value: ['text/plain'] }
      ]),
      document
    ])
    post(body, (status) => {
      running--
      if (status === 0) accepted++
      else refused++
      if (accepted + refused === count) {
        submitMs = Date.now() - start
        waitForEmptyQueue()
      } else {
        submitNext()
      }
    })
  }
}

// Get-Jobs lists the active jobs (which-jobs defaults to not-completed).
function waitForEmptyQueue () {
  const body = encode(0x000A, 1, [{ tag: 0x44, name: 'requested-attributes', value: ['job-state'] }])
  post(body, (status, reply) => {
    const active = reply ? reply.groups.filter((g) => g.tag === 0x02).length : -1
    if (status >= 0 && status < 0x0100 && active === 0) return finish(0)
    if (Date.now() > deadline) return finish(active)
    setTimeout(waitForEmptyQueue, 50)
  })
}

function finish (active) {
  console.log(`accepted ${accepted}`)
  console.log(`refused ${refused}`)
  console.log(`active ${active}`)
  console.log(`submit_ms ${submitMs}`)
  console.log(`complete_ms ${Date.now() - start}`)
  agent.destroy()
  process.exit(accepted === count && active === 0 ? 0 : 1)
}

submitNext()
