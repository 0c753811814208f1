-- Wireshark dissector for Lorvane line captures (pcapng, link type USER0 = 147).
--
-- Each packet holds the bytes of one write to the module (outbound) or of one chunk as it
-- arrived from the line (inbound). The frames are 8 bytes:
--   request (tool -> module): 55 addr func record v1 v2 v3 sum
--   reply   (module -> tool): 22 addr func record v1 v2 v3 sum
-- with sum the low 8 bits of the sum of bytes 0..6, func F0 (write) or F1 (read), record 0
-- the refresh period and records 1..16 the keys.
--
-- Received bytes are cut into frames the way Lorvane cuts them: a frame is a header byte
-- with 7 bytes behind it whose sum matches; anything else is junk, and the search goes on
-- one byte further; a frame found out of the 8-byte step gives way to a reply that begins
-- at the next step. A frame may begin in one packet and end in a later one of the same
-- interface and direction; it is shown in the packet that completes it. As Lorvane does,
-- each request starts the receive side afresh: bytes still waiting then are dropped.
--
-- Use:  tshark -X lua_script:lorvane.lua -r capture.pcapng
--   or  copy this file into Wireshark's personal Lua plugins folder.

local lorvane = Proto("lorvane", "Lorvane panel module line")

local FRAME_SIZE = 8
local REQUEST_HEADER = 0x55
local REPLY_HEADER = 0x22
local FUNCTIONS = { [0xF0] = "write", [0xF1] = "read" }
local MAX_INFO_ITEMS = 6 -- frames and junk named in the Info column; the tree has them all

local f_kind = ProtoField.string("lorvane.kind", "Kind")
local f_address = ProtoField.uint8("lorvane.address", "Address", base.HEX)
local f_function = ProtoField.uint8("lorvane.function", "Function", base.HEX, FUNCTIONS)
local f_record = ProtoField.uint8("lorvane.record", "Record", base.DEC)
local f_values = ProtoField.bytes("lorvane.values", "Values", base.SPACE)
local f_checksum = ProtoField.uint8("lorvane.checksum", "Checksum", base.HEX)
local f_checksum_ok = ProtoField.bool("lorvane.checksum_ok", "Checksum correct")
lorvane.fields = { f_kind, f_address, f_function, f_record, f_values, f_checksum, f_checksum_ok }

local e_bad_checksum = ProtoExpert.new("lorvane.bad_checksum", "Bad checksum",
    expert.group.CHECKSUM, expert.severity.ERROR)
local e_unanswered = ProtoExpert.new("lorvane.reply_answers_no_request",
    "Reply answers no request", expert.group.SEQUENCE, expert.severity.WARN)
local e_echo_differs = ProtoExpert.new("lorvane.echo_differs",
    "Request-shaped bytes received that differ from the last request", expert.group.SEQUENCE,
    expert.severity.WARN)
local e_junk = ProtoExpert.new("lorvane.junk", "Bytes that form no frame",
    expert.group.MALFORMED, expert.severity.NOTE)
lorvane.experts = { e_bad_checksum, e_unanswered, e_echo_differs, e_junk }

-- The capture's interface. Its direction (epb_flags) comes as pinfo.p2p_dir: 0 sent
-- (outbound), 1 received (inbound).
local frame_interface = Field.new("frame.interface_id")
local P2P_DIR_SENT = 0

-- Per interface: the two directions' cutters, the last request sent and whether it is
-- still waiting for its reply. Per packet number: what its first pass found, so that
-- dissecting a packet again (clicking on it) shows the same.
local interfaces = {}
local results = {}

function lorvane.init()
    interfaces = {}
    results = {}
end

local function checksum_of(bytes, first)
    local sum = 0
    for i = first, first + FRAME_SIZE - 2 do
        sum = sum + bytes[i]
    end
    return sum % 256
end

local function frame_at(bytes, first, header)
    return bytes[first] == header and checksum_of(bytes, first) == bytes[first + FRAME_SIZE - 1]
end

-- A cutter keeps the bytes that may still become a frame (at most 7 between packets) and
-- the stream position of its first byte.
local function new_cutter()
    return { pending = {}, consumed = 0 }
end

-- True when a reply begins whole at the next 8-byte step after `at` (1-based in pending).
local function reply_at_next_step(cutter, at)
    local off = (cutter.consumed + at - 1) % FRAME_SIZE
    if off == 0 then
        return false
    end
    local step = at + (FRAME_SIZE - off)
    if step + FRAME_SIZE - 1 > #cutter.pending then
        return false
    end
    return frame_at(cutter.pending, step, REPLY_HEADER)
end

-- Appends `bytes` (a table of numbers) and returns the items they complete, in order:
-- { what = "frame" | "junk", bytes = {...}, at = stream position of the first byte }.
local function feed(cutter, bytes)
    local pending = cutter.pending
    for _, b in ipairs(bytes) do
        pending[#pending + 1] = b
    end
    local items = {}
    local junk = nil
    local at = 1
    while at <= #pending do
        local left = #pending - at + 1
        local first = pending[at]
        local header = first == REPLY_HEADER or first == REQUEST_HEADER
        local is_frame = false
        if left >= FRAME_SIZE then
            is_frame = (frame_at(pending, at, REPLY_HEADER) or frame_at(pending, at, REQUEST_HEADER))
                and not reply_at_next_step(cutter, at)
        elseif header then
            break -- may still become a frame
        end
        if is_frame then
            junk = nil
            local f = {}
            for i = 0, FRAME_SIZE - 1 do
                f[#f + 1] = pending[at + i]
            end
            items[#items + 1] = { what = "frame", bytes = f, at = cutter.consumed + at - 1 }
            at = at + FRAME_SIZE
        else
            if junk == nil then
                junk = { what = "junk", bytes = {}, at = cutter.consumed + at - 1 }
                items[#items + 1] = junk
            end
            junk.bytes[#junk.bytes + 1] = first
            at = at + 1
        end
    end
    local rest = {}
    for i = at, #pending do
        rest[#rest + 1] = pending[i]
    end
    cutter.pending = rest
    cutter.consumed = cutter.consumed + at - 1
    return items
end

-- Junk that holds a header byte, a function code and 6 more bytes is shown as that frame
-- with its bad checksum, so that a damaged reply reads as one; the rest stays junk (the
-- function code keeps line noise from reading as a stream of damaged frames).
local function split_bad_frames(items)
    local out = {}
    for _, item in ipairs(items) do
        if item.what ~= "junk" then
            out[#out + 1] = item
        else
            local b = item.bytes
            local run = nil
            local i = 1
            while i <= #b do
                local header = b[i] == REPLY_HEADER or b[i] == REQUEST_HEADER
                if header and i + FRAME_SIZE - 1 <= #b and FUNCTIONS[b[i + 2]] ~= nil
                    and checksum_of(b, i) ~= b[i + FRAME_SIZE - 1] then
                    local f = {}
                    for k = 0, FRAME_SIZE - 1 do
                        f[#f + 1] = b[i + k]
                    end
                    out[#out + 1] = { what = "bad", bytes = f, at = item.at + i - 1 }
                    run = nil
                    i = i + FRAME_SIZE
                else
                    if run == nil then
                        run = { what = "junk", bytes = {}, at = item.at + i - 1 }
                        out[#out + 1] = run
                    end
                    run.bytes[#run.bytes + 1] = b[i]
                    i = i + 1
                end
            end
        end
    end
    return out
end

local function same_frame(a, b)
    if a == nil or b == nil then
        return false
    end
    for i = 1, FRAME_SIZE do
        if a[i] ~= b[i] then
            return false
        end
    end
    return true
end

local function record_label(record)
    if record == 0 then
        return "refresh period"
    elseif record >= 1 and record <= 16 then
        return "key " .. record
    end
    return "record " .. record
end

local function describe(f)
    return string.format("%s 0x%02X %s", FUNCTIONS[f[3]] or string.format("func 0x%02X", f[3]),
        f[2], record_label(f[4]))
end

-- Works out what one packet holds, with the interface's state as it stood before it.
local function analyse(state, outbound, bytes)
    local cutter = outbound and state.outbound or state.inbound
    local dropped = 0
    if outbound then
        dropped = #state.inbound.pending
        state.inbound = new_cutter()
    end
    local start = cutter.consumed + #cutter.pending
    local items = split_bad_frames(feed(cutter, bytes))
    for _, item in ipairs(items) do
        item.start = item.at - start -- offset in this packet; negative when begun earlier
        local f = item.bytes
        if item.what == "junk" then
            item.kind = "junk"
        else
            item.checksum_ok = item.what == "frame"
            if not item.checksum_ok then
                item.kind = "junk"
            elseif outbound and f[1] == REQUEST_HEADER then
                item.kind = "request"
                state.last_request = f
                state.outstanding = true
            elseif not outbound and f[1] == REQUEST_HEADER then
                item.kind = "echo"
                item.differs = not same_frame(f, state.last_request)
            elseif not outbound and f[1] == REPLY_HEADER then
                item.kind = "reply"
                local r = state.last_request
                if not state.outstanding or r == nil then
                    item.unanswered = "no request is waiting for a reply"
                elseif r[2] ~= f[2] or r[3] ~= f[3] or r[4] ~= f[4] then
                    item.unanswered = "the request waiting is " .. describe(r)
                else
                    state.outstanding = false
                end
            else
                item.kind = "junk" -- a reply sent by the tool
            end
        end
    end
    return { items = items, waiting = #cutter.pending, dropped = dropped }
end

local function bytes_of(tvb)
    local bytes = {}
    if tvb:len() == 0 then
        return bytes
    end
    local ba = tvb:bytes()
    for i = 0, ba:len() - 1 do
        bytes[i + 1] = ba:get_index(i)
    end
    return bytes
end

-- The bytes of `item` as a range to put fields on: of this packet, or of a frame put
-- together from this packet and earlier ones.
local function range_of(tvb, item)
    if item.start >= 0 then
        return tvb(item.start, #item.bytes)
    end
    local ba = ByteArray.new()
    ba:set_size(#item.bytes)
    for i, b in ipairs(item.bytes) do
        ba:set_index(i - 1, b)
    end
    return ba:tvb("Lorvane frame")()
end

local function add_item(tree, tvb, item)
    local range = range_of(tvb, item)
    local f = item.bytes
    if item.kind == "junk" and item.checksum_ok == nil then
        local sub = tree:add(lorvane, range, string.format("Junk: %d bytes", #f))
        sub:add(f_kind, range, "junk")
        sub:add_proto_expert_info(e_junk)
        return string.format("junk %d bytes", #f)
    end
    local summary = item.kind .. " " .. describe(f)
    if not item.checksum_ok then
        summary = "junk (bad checksum) " .. describe(f)
    end
    local sub = tree:add(lorvane, range, "Frame: " .. summary)
    if item.start < 0 then
        sub:append_text(string.format(" (begun %d bytes earlier)", -item.start))
    end
    sub:add(f_kind, range, item.kind)
    sub:add(f_address, range(1, 1))
    sub:add(f_function, range(2, 1))
    sub:add(f_record, range(3, 1)):append_text(" (" .. record_label(f[4]) .. ")")
    sub:add(f_values, range(4, 3))
    sub:add(f_checksum, range(7, 1))
    local ok = sub:add(f_checksum_ok, range(7, 1), item.checksum_ok)
    if not item.checksum_ok then
        ok:add_proto_expert_info(e_bad_checksum,
            string.format("Bad checksum 0x%02X, should be 0x%02X", f[8], checksum_of(f, 1)))
    end
    if item.unanswered then
        sub:add_proto_expert_info(e_unanswered, "Reply answers no request: " .. item.unanswered)
    end
    if item.differs then
        sub:add_proto_expert_info(e_echo_differs)
    end
    return summary
end

function lorvane.dissector(tvb, pinfo, tree)
    pinfo.cols.protocol = "Lorvane"
    local outbound = pinfo.p2p_dir == P2P_DIR_SENT
    local result = results[pinfo.number]
    if result == nil then
        -- A pass without a protocol tree (tshark -2) has no frame fields: the interface is
        -- then unknown and the packet waits for the next pass, which goes in order again.
        local interface = frame_interface()
        if interface == nil then
            return
        end
        local id = interface.value
        local state = interfaces[id]
        if state == nil then
            state = { inbound = new_cutter(), outbound = new_cutter() }
            interfaces[id] = state
        end
        result = analyse(state, outbound, bytes_of(tvb))
        results[pinfo.number] = result
    end

    local root = tree:add(lorvane, tvb(), "Lorvane line, " .. (outbound and "outbound" or "inbound"))
    local info = {}
    for i, item in ipairs(result.items) do
        local summary = add_item(root, tvb, item)
        if i <= MAX_INFO_ITEMS then
            info[#info + 1] = summary
        end
    end
    if #result.items > MAX_INFO_ITEMS then
        info[#info + 1] = string.format("%d more", #result.items - MAX_INFO_ITEMS)
    end
    if result.waiting > 0 then
        local text = string.format("%d bytes waiting for the rest of a frame", result.waiting)
        if tvb:len() > 0 then
            root:add(lorvane, tvb(tvb:len() - math.min(result.waiting, tvb:len())), text)
        else
            root:add(lorvane, text)
        end
        info[#info + 1] = string.format("%d bytes waiting", result.waiting)
    end
    if result.dropped > 0 then
        root:add(lorvane, string.format(
            "%d received bytes still waiting for a frame are dropped", result.dropped))
    end
    pinfo.cols.info = table.concat(info, ", ")
    return tvb:len()
end

DissectorTable.get("wtap_encap"):add(wtap.USER0, lorvane)
