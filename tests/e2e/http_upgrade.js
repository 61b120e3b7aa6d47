// Upgrades a plain HTTP connection to TLS the way RFC 2817 describes, with
// node's own TLS client, and prints what comes back:
//
//   node http_upgrade.js PORT METHOD RESOURCE
//
// Sends "METHOD RESOURCE HTTP/1.1" with "Connection: Upgrade" and "Upgrade:
// TLS/1.0,HTTP/1.1". Output lines:
//   plain STATUS-LINE                 the answer on the plain connection
//   tls PROTOCOL                      after a 101, once the handshake is done
//   tls-response STATUS-LINE          the answer to the request, over TLS
//   header NAME: VALUE                its header lines
//   next-response STATUS-LINE         the answer to "GET /index.html" sent
//   next-body BODY                    next over the same TLS connection
// The server's certificate is not checked (it is made for the test).
'use strict'

const net = require('net')
const tls = require('tls')

const [port, method, resource] = process.argv.slice(2)
if (!port || !method || !resource) {
  console.error('Usage: node http_upgrade.js PORT METHOD RESOURCE')
  process.exit(2)
}

setTimeout(() => {
  console.error('http_upgrade: no complete answer within 20 seconds')
  process.exit(1)
}, 20000).unref()

// Calls back with each complete response (head lines and body) read from
// `stream`, using Content-Length.
function responses (stream, onResponse) {
  let buffer = Buffer.alloc(0)
  stream.on('data', (chunk) => {
    buffer = Buffer.concat([buffer, chunk])
    for (;;) {
      const end = buffer.indexOf('\r\n\r\n')
      if (end < 0) return
      const head = buffer.slice(0, end).toString('latin1').split('\r\n')
      const lengthLine = head.find((l) => /^content-length:/i.test(l))
      const length = lengthLine ? Number(lengthLine.split(':')[1]) : 0
      if (buffer.length < end + 4 + length) return
      const body = buffer.slice(end + 4, end + 4 + length).toString('latin1')
      buffer = buffer.slice(end + 4 + length)
      if (onResponse(head, body) === false) return
    }
  })
}

const plain = net.connect(Number(port), '127.0.0.1', () => {
  plain.write(`${method} ${resource} HTTP/1.1\r\nHost: localhost\r\nConnection: Upgrade\r\n` +
              'Upgrade: TLS/1.0,HTTP/1.1\r\n\r\n')
})
plain.on('error', (e) => {
  console.error(`http_upgrade: ${e.message}`)
  process.exit(1)
})

let upgraded = false
responses(plain, (head) => {
  if (upgraded) return false
  console.log(`plain ${head[0]}`)
  if (!/^HTTP\/1\.1 101 /.test(head[0])) process.exit(0)
  upgraded = true
  plain.removeAllListeners('data')
  const secure = tls.connect({ socket: plain, rejectUnauthorized: false }, () => {
    console.log(`tls ${secure.getProtocol()}`)
  })
  secure.on('error', (e) => {
    console.error(`http_upgrade: TLS: ${e.message}`)
    process.exit(1)
  })
  let count = 0
  responses(secure, (h, body) => {
    count++
    if (count === 1) {
      console.log(`tls-response ${h[0]}`)
      for (const line of h.slice(1)) console.log(`header ${line}`)
      secure.write('GET /index.html HTTP/1.1\r\nHost: localhost\r\n\r\n')
      return true
    }
    console.log(`next-response ${h[0]}`)
    console.log(`next-body ${body.trim()}`)
    process.exit(0)
  })
  return false
})
