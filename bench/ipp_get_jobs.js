// The same job listing qstatus prints, through an IPP client written
// elsewhere (the npm package "ipp"): Get-Jobs of every job with the
// attributes qstatus asks for. Prints "jobs N" and the time in ms.
//   node bench/ipp_get_jobs.js PORT
'use strict'
const path = require('path')
const ipp = require(path.join(__dirname, '..', 'tests', 'interop', 'node_modules', 'ipp'))

const port = process.argv[2]
const printer = ipp.Printer(`http://127.0.0.1:${port}/`, { version: '1.1' })
const started = process.hrtime.bigint()
printer.execute('Get-Jobs', {
  'operation-attributes-tag': {
    'requesting-user-name': 'bench',
    'requested-attributes': ['job-id', 'job-k-octets', 'job-name', 'time-at-creation', 'job-printer-uri',
      'job-originating-user-name'],
    'which-jobs': 'not-completed'
  }
}, (err, res) => {
  if (err) {
    console.error(`ipp_get_jobs: ${err.message}`)
    process.exit(1)
  }
  if (res.statusCode !== 'successful-ok' && res.statusCode !== 'successful-ok-ignored-or-substituted-attributes') {
    console.error(`ipp_get_jobs: ${res.statusCode}`)
    process.exit(1)
  }
  const ms = Number(process.hrtime.bigint() - started) / 1e6
  const jobs = res['job-attributes-tag']
  const count = Array.isArray(jobs) ? jobs.length : (jobs ? 1 : 0)
  console.log(`jobs ${count}`)
  console.log(`ms ${ms.toFixed(1)}`)
})
