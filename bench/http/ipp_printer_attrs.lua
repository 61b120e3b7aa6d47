-- wrk script: every request is a POST of Get-Printer-Attributes (0x000B,
-- version 1.1, request id 1) for the printer "bench" asking for five
-- attributes; with a summary of the latency percentiles at the end.
local function u16(n) return string.char(math.floor(n / 256), n % 256) end
local function attr(tag, name, value) return string.char(tag) .. u16(#name) .. name .. u16(#value) .. value end

local body = "\1\1\0\11\0\0\0\1" .. "\1" ..
             attr(0x47, "attributes-charset", "utf-8") ..
             attr(0x48, "attributes-natural-language", "en") ..
             attr(0x45, "printer-uri", "ipp://localhost/printers/bench")
local requested = {"printer-state", "printer-state-reasons", "printer-name", "printer-is-accepting-jobs",
                   "printer-make-and-model"}
for i, name in ipairs(requested) do
  body = body .. attr(0x44, i == 1 and "requested-attributes" or "", name)
end
body = body .. "\3"

wrk.method = "POST"
wrk.headers["Content-Type"] = "application/ipp"
wrk.body = body

done = function(summary, latency, requests)
  io.write(string.format("latency_p99_ms %.2f\n", latency:percentile(99) / 1000))
end
