// Drives the web interface of a running vornd in chromium-headless-shell
// through puppeteer-core: lists the printers (also on a phone-sized
// screen), cancels a job, adds a printer and then a class of two printers,
// and saves a screenshot of each page. Any alert() or script element from a printer's values fails it.
//
//   node web_browser.mjs PORT SCREENSHOT_DIR BROWSER JOB_ID USER PASSWORD
import { createRequire } from 'node:module';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const here = path.dirname(fileURLToPath(import.meta.url));
const require = createRequire(path.join(here, '../../interop/package.json'));
const puppeteer = require('puppeteer-core');

const [port, shots, browserPath, jobId, user, password] = process.argv.slice(2);
const base = `http://127.0.0.1:${port}`;

function check(condition, message) {
  if (!condition) throw new Error(message);
}

const browser = await puppeteer.launch({
  executablePath: browserPath,
  headless: 'shell',
  args: ['--no-sandbox', '--disable-gpu', '--no-first-run'],
  timeout: 60000,
});
let failed = false;
try {
  const page = await browser.newPage();
  page.setDefaultTimeout(30000);
  await page.authenticate({ username: user, password });
  page.on('dialog', async (dialog) => {
    failed = true;
    console.error(`a dialog opened: ${dialog.message()}`);
    await dialog.dismiss();
  });
  await page.setViewport({ width: 1024, height: 768 });

  // The printer list, with the hostile description shown as text.
  let response = await page.goto(`${base}/printers`, { waitUntil: 'load' });
  check(response.status() === 200, `/printers answered ${response.status()}`);
  const rows = await page.$$eval('table.dests tr', (trs) => trs.map((tr) => tr.innerText));
  check(rows.some((r) => r.startsWith('lab')), `no printer lab in ${JSON.stringify(rows)}`);
  const info = await page.$eval('a[href="/printers/lab"]', (a) => a.closest('tr').children[1].textContent);
  check(info === '<script>alert(1)</script>', `lab's description shows as ${JSON.stringify(info)}`);
  check((await page.$$('main script')).length === 0, 'a script element in the page');
  await page.screenshot({ path: path.join(shots, 'printers.png'), fullPage: true });

  // Readable on a phone: nothing wider than the screen but the scrolling table.
  await page.setViewport({ width: 360, height: 640, isMobile: true });
  await page.goto(`${base}/printers`, { waitUntil: 'load' });
  const width = await page.evaluate(() => document.documentElement.scrollWidth);
  check(width <= 360, `the page is ${width} pixels wide on a 360 pixel screen`);
  await page.screenshot({ path: path.join(shots, 'printers-phone.png'), fullPage: true });
  await page.setViewport({ width: 1024, height: 768 });

  // A job's Cancel button.
  response = await page.goto(`${base}/jobs`, { waitUntil: 'load' });
  check(response.status() === 200, `/jobs answered ${response.status()}`);
  const cancel = await page.$(`tr#job-${jobId} form input[value="cancel-job"] ~ button`);
  check(cancel, `no cancel button for job ${jobId}`);
  await Promise.all([page.waitForNavigation({ waitUntil: 'load' }), cancel.click()]);
  const notice = await page.$eval('main p', (p) => p.textContent);
  check(notice === `Job ${jobId} cancelled.`, `after the cancel: ${JSON.stringify(notice)}`);
  await page.screenshot({ path: path.join(shots, 'jobs-cancelled.png'), fullPage: true });
  await page.goto(`${base}/jobs?which_jobs=completed`, { waitUntil: 'load' });
  const state = await page.$eval(`tr#job-${jobId} td.state`, (td) => td.textContent);
  check(state === 'cancelled', `job ${jobId} is ${state}`);

  // A new printer through the administration form.
  response = await page.goto(`${base}/admin`, { waitUntil: 'load' });
  check(response.status() === 200, `/admin answered ${response.status()}`);
  await page.type('#printer-form input[name=printer_name]', 'webprinter');
  await page.type('#printer-form input[name=printer_info]', 'Added "from" <the> browser');
  await page.type('#printer-form input[name=printer_location]', 'Hall 7');
  await page.type('#printer-form input[name=device_uri]', 'socket://127.0.0.1:9100');
  const model = await page.$('#printer-form select[name=ppd_name]');
  if (model) await model.select('web-test.ppd');
  else await page.type('#printer-form input[name=ppd_name]', 'web-test.ppd');
  await page.screenshot({ path: path.join(shots, 'admin-form.png'), fullPage: true });
  await Promise.all([page.waitForNavigation({ waitUntil: 'load' }), page.click('#printer-form button[type=submit]')]);
  const saved = await page.$eval('main p', (p) => p.textContent);
  check(saved === 'Printer webprinter saved.', `after adding: ${JSON.stringify(saved)}`);
  await page.screenshot({ path: path.join(shots, 'admin-added.png'), fullPage: true });
  await page.goto(`${base}/printers/webprinter`, { waitUntil: 'load' });
  const description = await page.$eval('table.dest tr td', (td) => td.textContent);
  check(description === 'Added "from" <the> browser', `webprinter's description: ${JSON.stringify(description)}`);
  const jobs = await page.$eval('main', (m) => m.textContent);
  check(jobs.includes('No jobs.'), `webprinter's page lists no jobs: ${JSON.stringify(jobs)}`);

  // A class of two printers through the class form of the administration.
  await page.goto(`${base}/admin`, { waitUntil: 'load' });
  await page.type('#class-form input[name=class_name]', 'webclass');
  await page.type('#class-form input[name=class_info]', 'Both <of> them');
  for (const member of ['lab', 'webprinter']) {
    const box = await page.$(`#class-form input[name=member][value="${member}"]`);
    check(box, `no checkbox for ${member} in the class form`);
    await box.click();
  }
  await page.screenshot({ path: path.join(shots, 'admin-class-form.png'), fullPage: true });
  await Promise.all([page.waitForNavigation({ waitUntil: 'load' }), page.click('#class-form button[type=submit]')]);
  const classSaved = await page.$eval('main p', (p) => p.textContent);
  check(classSaved === 'Class webclass saved.', `after adding the class: ${JSON.stringify(classSaved)}`);
  await page.screenshot({ path: path.join(shots, 'admin-class-added.png'), fullPage: true });
  await page.goto(`${base}/classes/webclass`, { waitUntil: 'load' });
  const classRows = await page.$$eval('table.dest tr', (trs) => trs.map((tr) => tr.innerText));
  check(classRows.some((r) => r === 'Members\tlab, webprinter'), `webclass shows ${JSON.stringify(classRows)}`);
  check(classRows.some((r) => r === 'Description\tBoth <of> them'), `webclass shows ${JSON.stringify(classRows)}`);
  check(!failed, 'a dialog opened');
  console.log('web interface checked');
} catch (e) {
  console.error(e.message);
  failed = true;
} finally {
  await browser.close();
}
process.exit(failed ? 1 : 0);
