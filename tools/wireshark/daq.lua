-- Wireshark dissector for the DAQ server protocol: frames of STX (0x02), a UTF-8 JSON text and
-- ETX (0x03) on TCP; every frame the server sends ends with one more zero byte. The JSON text
-- goes to Wireshark's own JSON dissector.
--
-- Use:  wireshark -X lua_script:tools/wireshark/daq.lua
--       tshark -X lua_script:tools/wireshark/daq.lua -r capture.pcapng -Y daq
-- or copy the file into ~/.local/lib/wireshark/plugins/. The server port is a preference
-- (Protocols > DAQ), 5050 by default; "Decode As..." works for any other port. So is the TLS
-- port, 5051 by default: its traffic is dissected once Wireshark can decrypt it with the key log
-- file of the client's SSLKEYLOGFILE (Protocols > TLS > (Pre)-Master-Secret log filename).

local STX = 0x02
local ETX = 0x03

local daq = Proto("daq", "DAQ server protocol")

local kinds = { [1] = "request", [2] = "answer" }

local f = daq.fields
f.frame = ProtoField.bytes("daq.frame", "Frame")
f.kind = ProtoField.uint8("daq.kind", "Kind", base.DEC, kinds)
f.stx = ProtoField.uint8("daq.stx", "STX", base.HEX)
f.payload = ProtoField.string("daq.payload", "JSON text", base.UNICODE)
f.ps_id = ProtoField.string("daq.ps_id", "Request id")
f.etx = ProtoField.uint8("daq.etx", "ETX", base.HEX)
f.trailer = ProtoField.uint8("daq.trailer", "Trailing zero (server frames)", base.HEX)
f.outside = ProtoField.bytes("daq.outside", "Bytes outside frames (belong to no message)")
f.outside_text = ProtoField.string("daq.outside_text", "Text outside frames")

local e_too_long = ProtoExpert.new("daq.too_long", "Frame longer than the server accepts",
                                   expert.group.PROTOCOL, expert.severity.WARN)
local e_no_trailer = ProtoExpert.new("daq.no_trailer", "Server frame without its trailing zero",
                                     expert.group.MALFORMED, expert.severity.NOTE)
daq.experts = { e_too_long, e_no_trailer }

daq.prefs.port = Pref.uint("Server port", 5050, "TCP port the DAQ server listens on")
daq.prefs.tls_port = Pref.uint("TLS server port", 5051, "TCP port of the server's TLS listener")
daq.prefs.max_frame = Pref.uint("Largest frame", 1024 * 1024,
                                "A frame longer than this many bytes is not reassembled further")

local json = Dissector.get("json")
-- The plain port under TCP, the TLS port under TLS: the dissector table and its port now.
local ports = {
    { table = DissectorTable.get("tcp.port"), pref = "port" },
    { table = DissectorTable.get("tls.port"), pref = "tls_port" },
}

-- The offset of the first byte `value` at or after `from`, or nil (searched in C, not per
-- byte in Lua: frames may be a megabyte long).
local function find_byte(tvb, from, value)
    local length = tvb:len() - from
    if length <= 0 then
        return nil
    end
    local at = tvb:raw(from, length):find(string.char(value), 1, true)
    return at and (from + at - 1) or nil
end

local function request_id(text)
    return text:match('"PS_ID"%s*:%s*"([^"]*)"')
end

function daq.dissector(tvb, pinfo, tree)
    local length = tvb:len()
    if length == 0 then
        return 0
    end
    pinfo.cols.protocol = "DAQ"
    -- The port this dissector was found by (the preference, or a "Decode As" port).
    local server_port = pinfo.match_uint ~= 0 and pinfo.match_uint or daq.prefs.port
    local from_server = pinfo.src_port == server_port
    local info = {}
    local offset = 0
    while offset < length do
        local stx = find_byte(tvb, offset, STX)
        if stx == nil or stx > offset then
            -- Bytes before the next STX (or to the end): no message of either side. The
            -- stop notice a server writes before it closes is such plain text.
            local stop = stx or length
            local outside = tree:add(daq, tvb(offset, stop - offset))
            outside:append_text(", bytes outside frames")
            outside:add(f.outside, tvb(offset, stop - offset))
            outside:add(f.outside_text, tvb(offset, stop - offset))
            table.insert(info, "outside frames")
            offset = stop
        else
            local etx = find_byte(tvb, stx + 1, ETX)
            if etx == nil then
                if length - stx > daq.prefs.max_frame then
                    local item = tree:add(f.frame, tvb(stx, length - stx))
                    item:add_proto_expert_info(e_too_long)
                    return length
                end
                -- No length field: ask for more until ETX comes.
                pinfo.desegment_offset = stx
                pinfo.desegment_len = DESEGMENT_ONE_MORE_SEGMENT
                return length
            end
            local frame_end = etx + 1
            local has_trailer = frame_end < length and tvb(frame_end, 1):uint() == 0
            if from_server and has_trailer then
                frame_end = frame_end + 1
            end
            local subtree = tree:add(daq, tvb(stx, frame_end - stx))
            local text_range = tvb(stx + 1, etx - stx - 1)
            local text = etx > stx + 1 and text_range:string(ENC_UTF_8) or ""
            local id = request_id(text)
            local kind = from_server and 2 or 1
            subtree:add(f.kind, kind):set_generated()
            subtree:add(f.stx, tvb(stx, 1))
            if etx > stx + 1 then
                subtree:add(f.payload, text_range, text)
                if id ~= nil and not from_server then
                    subtree:add(f.ps_id, text_range, id)
                end
                json:call(text_range:tvb(), pinfo, subtree)
            end
            subtree:add(f.etx, tvb(etx, 1))
            if from_server then
                if has_trailer then
                    subtree:add(f.trailer, tvb(etx + 1, 1))
                else
                    subtree:add_proto_expert_info(e_no_trailer)
                end
            end
            local label = from_server and "answer" or (id or "request without id")
            subtree:append_text(", " .. label)
            table.insert(info, label)
            offset = frame_end
        end
    end
    pinfo.cols.protocol = "DAQ"  -- the JSON dissector has added itself
    pinfo.cols.info = "DAQ " .. table.concat(info, ", ")
    return length
end

function daq.prefs_changed()
    for _, entry in ipairs(ports) do
        if entry.registered ~= daq.prefs[entry.pref] then
            entry.table:remove(entry.registered, daq)
            entry.registered = daq.prefs[entry.pref]
            entry.table:add(entry.registered, daq)
        end
    end
end

for _, entry in ipairs(ports) do
    entry.registered = daq.prefs[entry.pref]
    entry.table:add(entry.registered, daq)
end
