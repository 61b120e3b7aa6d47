-- wrk script: every request is a POST of a small IPP request, VORN-Get-Printers
-- (0x4002, version 1.1, request id 1) with only the attributes-charset and
-- attributes-natural-language attributes.
wrk.method = "POST"
wrk.headers["Content-Type"] = "application/ipp"
wrk.body = "\001\001\064\002\000\000\000\001" ..
           "\001" ..
           "\071\000\018attributes-charset\000\005utf-8" ..
           "\072\000\027attributes-natural-language\000\002en" ..
           "\003"
