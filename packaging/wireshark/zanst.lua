-- Wireshark dissector for the Zanst battery bus, as `zanst-cli export FILE --pcapng OUT` writes it:
-- link type USER0 (147), every packet a 4-byte pseudo-header (version, direction, kind, CRC
-- verdict) in front of one frame, record, cut-off or run of line bytes of one direction, or a
-- mode byte. The Info column reads as the tool's traffic view: the command, then the fields.
--
-- Try it: tshark -X lua_script:zanst.lua -r session.pcapng -V
-- Installed with the package where Wireshark looks for global Lua plugins.
--
-- Plain arithmetic throughout, no bit library, so that the script runs on every Lua that
-- Wireshark has shipped.

local zanst = Proto("zanst", "Zanst battery bus")

local directions = { [0] = "received by the tool", [1] = "sent by the tool", [2] = "none" }
local kinds = { [0] = "frame", [1] = "record", [2] = "cut off", [3] = "line bytes", [4] = "mode" }
local verdicts = { [0] = "good", [1] = "bad", [2] = "not checked" }
local modes = {
    [0] = "Connection", [1] = "Actions", [2] = "Calibration", [3] = "Battery tester",
    [4] = "BMS tester", [5] = "Data Sniffer", [6] = "Metrics",
}
local commands = {
    [0x01] = "Info", [0x02] = "Measurement", [0x08] = "Calibration data", [0x10] = "Test mode",
    [0x11] = "Calibrate", [0x12] = "Save calibration", [0x13] = "Battery parameters",
    [0x14] = "Reload calibration", [0x20] = "Start boot loader", [0x21] = "Start update",
    [0x22] = "End update", [0x23] = "Data block", [0x30] = "Current adjustment",
    [0x31] = "Model changed", [0x50] = "Metrics", [0x80] = "Acknowledge",
}

local f = {
    version = ProtoField.uint8("zanst.version", "Pseudo-header version"),
    direction = ProtoField.uint8("zanst.direction", "Direction", base.DEC, directions),
    kind = ProtoField.uint8("zanst.kind", "Kind", base.DEC, kinds),
    verdict = ProtoField.uint8("zanst.verdict", "CRC verdict of the export", base.DEC, verdicts),
    mode = ProtoField.uint8("zanst.mode", "Operating mode", base.DEC, modes),
    line_bytes = ProtoField.bytes("zanst.line_bytes", "Line bytes"),
    cut_off = ProtoField.bytes("zanst.cut_off", "Cut-off bytes"),

    start = ProtoField.uint8("zanst.start", "Start byte", base.HEX),
    cmd = ProtoField.uint8("zanst.cmd", "Command", base.HEX, commands),
    constant = ProtoField.uint8("zanst.constant", "Constant byte", base.HEX),
    length = ProtoField.uint8("zanst.length", "Payload length", base.DEC),
    ext_length = ProtoField.uint16("zanst.ext_length", "Extended length", base.DEC),
    payload = ProtoField.bytes("zanst.payload", "Payload"),
    following = ProtoField.uint8("zanst.following", "followingFrames", base.HEX),
    crc = ProtoField.uint8("zanst.crc", "CRC-8", base.HEX),
    crc_ok = ProtoField.bool("zanst.crc_ok", "CRC good"),

    product_id = ProtoField.uint16("zanst.product_id", "Product id", base.HEX),
    serial = ProtoField.string("zanst.serial", "Serial"),
    word = ProtoField.string("zanst.word", "Command word"),
    setpoint_mv = ProtoField.uint16("zanst.setpoint_mv", "Balancing setpoint (mV)"),
    bank_voltage = ProtoField.uint16("zanst.bank_voltage", "Bank voltage (mV from the tool, 0.1 V from a BMS)"),
    bms_current = ProtoField.int16("zanst.bms_current", "Bank current (0.1 A)"),
    status = ProtoField.uint16("zanst.status", "Status", base.HEX),
    instance = ProtoField.uint8("zanst.instance", "Metrics instance"),

    rec_type = ProtoField.uint8("zanst.rec_type", "Record type", base.HEX, commands),
    flags = ProtoField.uint8("zanst.flags", "Status flags", base.HEX),
    id_word = ProtoField.uint16("zanst.id_word", "Id word", base.HEX),
    id = ProtoField.uint16("zanst.id", "Balancer id"),
    measurement = ProtoField.uint32("zanst.measurement", "Measurement word", base.HEX),
    voltage_mv = ProtoField.int32("zanst.voltage_mv", "Cell voltage (mV)"),
    current_ma = ProtoField.int32("zanst.current_ma", "Cell current (mA)"),
    temperature_word = ProtoField.uint16("zanst.temperature_word", "Temperature word", base.HEX),
    temperature_dc = ProtoField.int32("zanst.temperature_dc", "Temperature (0.1 degC)"),
    capacity = ProtoField.uint16("zanst.capacity", "Capacity (Ah)"),
    fw_version = ProtoField.uint32("zanst.fw_version", "Firmware version", base.HEX),
    bl_version = ProtoField.uint32("zanst.bl_version", "Boot loader version", base.HEX),
    firmware = ProtoField.string("zanst.firmware", "Firmware"),
    boot_loader = ProtoField.string("zanst.boot_loader", "Boot loader"),
    hw_revision = ProtoField.uint8("zanst.hw_revision", "Hardware revision"),
    boot_mode = ProtoField.uint8("zanst.boot_mode", "Boot mode"),
    v_gain = ProtoField.uint16("zanst.v_gain", "Voltage gain"),
    i_gain = ProtoField.uint16("zanst.i_gain", "Current gain"),
    i_offset = ProtoField.int16("zanst.i_offset", "Current offset"),
    rec_following = ProtoField.uint8("zanst.rec_following", "Following flag", base.HEX),

    m_layout = ProtoField.uint16("zanst.metrics.layout_version", "Layout version"),
    m_life = ProtoField.uint32("zanst.metrics.life_span", "Life span (s)"),
    m_cycles = ProtoField.uint16("zanst.metrics.cycles_before_eol", "Cycles before end of life"),
    m_ir = ProtoField.uint16("zanst.metrics.ir_seconds", "Seconds at raised internal resistance"),
    m_under = ProtoField.uint32("zanst.metrics.undervoltage", "Seconds in undervoltage"),
    m_over = ProtoField.uint32("zanst.metrics.overvoltage", "Seconds in overvoltage"),
    m_sub01c = ProtoField.uint32("zanst.metrics.sub01c", "Seconds in Sub01C"),
    m_time = ProtoField.uint32("zanst.metrics.time", "Seconds in range"),
    m_instance = ProtoField.uint16("zanst.metrics.instance", "Instance"),
    m_checksum = ProtoField.uint16("zanst.metrics.store_checksum", "Stored copy's checksum", base.HEX),
}
local list = {}
for _, field in pairs(f) do
    list[#list + 1] = field
end
zanst.fields = list

local e_crc = ProtoExpert.new("zanst.crc_bad", "CRC-8 does not match", expert.group.CHECKSUM, expert.severity.ERROR)
local e_verdict = ProtoExpert.new("zanst.verdict_differs", "The export's CRC verdict differs from the dissector's",
    expert.group.MALFORMED, expert.severity.WARN)
zanst.experts = { e_crc, e_verdict }

-- CRC-8, polynomial 0x07, initial 0, no reflection, no final XOR.
local function xor8(a, b)
    local r, bit = 0, 1
    for _ = 1, 8 do
        if (a % 2) ~= (b % 2) then
            r = r + bit
        end
        a, b, bit = math.floor(a / 2), math.floor(b / 2), bit * 2
    end
    return r
end
local crc_table = {}
for i = 0, 255 do
    local c = i
    for _ = 1, 8 do
        if c >= 128 then
            c = xor8((c * 2) % 256, 0x07)
        else
            c = c * 2
        end
    end
    crc_table[i] = c
end
local function crc8(tvb, offset, count)
    local c = 0
    for i = 0, count - 1 do
        c = crc_table[xor8(c, tvb(offset + i, 1):uint())]
    end
    return c
end

local function command_name(code)
    return commands[code] or string.format("0x%02X", code)
end

-- v<major>.<minor>[-beta<nn>], or "---" for a word whose low 24 bits are all ones.
local function version_text(v)
    local low = v % 16777216
    if low == 16777215 then
        return "---"
    end
    local beta = low % 256
    local minor = math.floor(low / 256) % 256
    local major = math.floor(low / 65536)
    local text = string.format("v%02X.%02X", major, minor)
    if beta ~= 255 then
        text = text .. string.format("-beta%02X", beta)
    end
    return text
end

-- Up to the first zero byte, unprintable bytes as '?'.
local function serial_text(tvb, offset, count)
    local out = {}
    for i = 0, count - 1 do
        local b = tvb(offset + i, 1):uint()
        if b == 0 then
            break
        end
        out[#out + 1] = (b >= 0x20 and b < 0x7F) and string.char(b) or "?"
    end
    return table.concat(out)
end

-- A signed value in 0.001 or 0.1 units as the traffic view writes it ("-1.250", "25.0").
local function fixed(value, scale, digits)
    local sign = value < 0 and "-" or ""
    local m = math.abs(value)
    return string.format("%s%d.%0" .. digits .. "d", sign, math.floor(m / scale), m % scale)
end

local function add_crc(tree, tvb, offset, size, verdict)
    local stored = tvb(offset + size - 1, 1):uint()
    local ok = crc8(tvb, offset, size - 1) == stored
    tree:add(f.crc, tvb(offset + size - 1, 1))
    local item = tree:add(f.crc_ok, tvb(offset + size - 1, 1), ok)
    if not ok then
        item:add_proto_expert_info(e_crc)
    end
    if verdict ~= 2 and (verdict == 0) ~= ok then
        item:add_proto_expert_info(e_verdict)
    end
    return ok
end

local function dissect_metrics_answer(tree, tvb, o)
    local m = tree:add(zanst, tvb(o + 6, 440), "Metrics record")
    local at = o + 6
    local function take(field, size)
        local r = tvb(at, size)
        m:add_le(field, r)
        at = at + size
        return r:le_uint()
    end
    take(f.m_layout, 2)
    take(f.m_life, 4)
    take(f.m_cycles, 2)
    local ranges = { "100-110 %", "110-120 %", "120-130 %", "130-150 %", "150-175 %", "175-200 %",
        "200-225 %", "above 225 %" }
    for _, label in ipairs(ranges) do
        m:add_le(f.m_ir, tvb(at, 2)):append_text(" (" .. label .. ")")
        at = at + 2
    end
    take(f.m_under, 4)
    take(f.m_over, 4)
    take(f.m_sub01c, 4)
    local matrix = m:add(zanst, tvb(at, 400), "Time matrix [state of charge][temperature][C-rate]")
    for s = 0, 4 do
        for t = 0, 3 do
            for c = 0, 4 do
                matrix:add_le(f.m_time, tvb(at, 4)):append_text(string.format(" [%d][%d][%d]", s, t, c))
                at = at + 4
            end
        end
    end
    local instance = take(f.m_instance, 2)
    take(f.m_checksum, 2)
    return instance
end

local function dissect_frame(tree, tvb, o, size, verdict)
    local t = tree:add(zanst, tvb(o, size), "Frame")
    t:add(f.start, tvb(o, 1))
    if size < 2 then
        return "", ""
    end
    local command = tvb(o + 1, 1):uint()
    t:add(f.cmd, tvb(o + 1, 1))
    local name = command_name(command)
    if size < 4 then
        return name, ""
    end
    t:add(f.constant, tvb(o + 2, 1))
    local extended = tvb(o + 3, 1):uint() == 0xFF
    if command == 0x50 and extended then
        name = "Metrics answer"
    end
    if extended and size >= 6 then
        t:add(f.length, tvb(o + 3, 1))
        t:add(f.ext_length, tvb(o + 4, 2))
    else
        t:add(f.length, tvb(o + 3, 1))
    end
    local fields = ""
    if size >= 6 then
        local payload = size - 6
        if payload > 0 then
            t:add(f.payload, tvb(o + 4, payload))
        end
        t:add(f.following, tvb(o + size - 2, 1))
        fields = string.format("payload %d bytes, following %d", payload, tvb(o + size - 2, 1):uint())
        add_crc(t, tvb, o, size, verdict)
    else
        fields = string.format("payload 0 bytes, following %d", tvb(o + size - 2, 1):uint())
    end
    -- The payload fields the tool reads, where the frame is long enough to hold them.
    if (command == 0x01 or command == 0x31) and size >= 22 then
        t:add_le(f.product_id, tvb(o + 4, 2))
        t:add(f.serial, tvb(o + 8, 11), serial_text(tvb, o + 8, 11))
    elseif command == 0x02 and size >= 26 then
        t:add_le(f.setpoint_mv, tvb(o + 4, 2))
        t:add_le(f.bms_current, tvb(o + 6, 2))
        t:add_le(f.bank_voltage, tvb(o + 8, 2))
        t:add_le(f.status, tvb(o + 10, 2))
        t:add(f.serial, tvb(o + 12, 11), serial_text(tvb, o + 12, 11))
    elseif (command == 0x10 or command == 0x20) and size >= 22 then
        t:add(f.word, tvb(o + 4, 4), serial_text(tvb, o + 4, 4))
        t:add(f.serial, tvb(o + 8, 11), serial_text(tvb, o + 8, 11))
    elseif command == 0x50 and not extended and size >= 6 then
        t:add(f.instance, tvb(o + 4, 1))
    elseif command == 0x50 and extended and size == 448 and tvb(o + 4, 2):uint() == 442 then
        dissect_metrics_answer(t, tvb, o)
    end
    return name, fields
end

local function dissect_record(tree, tvb, o, size, verdict)
    local kind = tvb(o, 1):uint()
    local name = command_name(kind) .. " record"
    local t = tree:add(zanst, tvb(o, size), name)
    t:add(f.rec_type, tvb(o, 1))
    if size < 4 then
        return name, ""
    end
    t:add(f.flags, tvb(o + 1, 1))
    local word = tvb(o + 2, 2):le_uint()
    t:add_le(f.id_word, tvb(o + 2, 2))
    local id = word % 4096
    t:add(f.id, tvb(o + 2, 2), id)
    local ok = add_crc(t, tvb, o, size, verdict)
    t:add(f.rec_following, tvb(o + size - 2, 1))
    if not ok then
        return name, "" -- the tool shows no field of a record whose CRC failed
    end
    local flags = tvb(o + 1, 1):uint()
    if kind == 0x02 and size == 12 then
        local m = tvb(o + 4, 4):le_int()
        local mv = m % 4096 + 1000
        local ma = math.floor(m / 4096)
        local tw = tvb(o + 8, 2):le_int()
        local tenths = math.floor(tw / 32)
        t:add_le(f.measurement, tvb(o + 4, 4))
        t:add(f.voltage_mv, tvb(o + 4, 4), mv)
        t:add(f.current_ma, tvb(o + 4, 4), ma)
        t:add_le(f.temperature_word, tvb(o + 8, 2))
        t:add(f.temperature_dc, tvb(o + 8, 2), tenths)
        return name, string.format("id %d: %s V, %s A, %s degC, flags 0x%02X", id, fixed(mv, 1000, 3),
            fixed(ma, 1000, 3), fixed(tenths, 10, 1), flags)
    elseif kind == 0x01 and size == 32 then
        local serial = serial_text(tvb, o + 4, 11)
        local fw = tvb(o + 20, 4):le_uint()
        local bl = tvb(o + 24, 4):le_uint()
        t:add(f.serial, tvb(o + 4, 11), serial)
        t:add_le(f.product_id, tvb(o + 16, 2))
        t:add_le(f.capacity, tvb(o + 18, 2))
        t:add_le(f.fw_version, tvb(o + 20, 4))
        t:add(f.firmware, tvb(o + 20, 4), version_text(fw))
        t:add_le(f.bl_version, tvb(o + 24, 4))
        t:add(f.boot_loader, tvb(o + 24, 4), version_text(bl))
        t:add(f.hw_revision, tvb(o + 28, 1))
        t:add(f.boot_mode, tvb(o + 29, 1))
        return name, string.format("id %d: serial %s, product 0x%04X, %d Ah, firmware 0x%08X", id, serial,
            tvb(o + 16, 2):le_uint(), tvb(o + 18, 2):le_uint(), fw)
    elseif kind == 0x08 and size == 12 then
        t:add_le(f.v_gain, tvb(o + 4, 2))
        t:add_le(f.i_gain, tvb(o + 6, 2))
        t:add_le(f.i_offset, tvb(o + 8, 2))
        return name, string.format("id %d: voltage gain %d, current gain %d, current offset %d", id,
            tvb(o + 4, 2):le_uint(), tvb(o + 6, 2):le_uint(), tvb(o + 8, 2):le_int())
    end
    return name, ""
end

function zanst.dissector(tvb, pinfo, tree)
    if tvb:len() < 4 then
        return 0
    end
    pinfo.cols.protocol = "ZANST"
    local root = tree:add(zanst, tvb(), "Zanst battery bus")
    local header = root:add(zanst, tvb(0, 4), "Pseudo-header")
    header:add(f.version, tvb(0, 1))
    header:add(f.direction, tvb(1, 1))
    header:add(f.kind, tvb(2, 1))
    header:add(f.verdict, tvb(3, 1))
    local direction = tvb(1, 1):uint()
    local kind = tvb(2, 1):uint()
    local verdict = tvb(3, 1):uint()
    local size = tvb:len() - 4
    if direction == 0 then
        pinfo.cols.src, pinfo.cols.dst = "bus", "tool"
    elseif direction == 1 then
        pinfo.cols.src, pinfo.cols.dst = "tool", "bus"
    end

    local name, fields = "", ""
    if kind == 4 and size >= 1 then
        local mode = tvb(4, 1):uint()
        root:add(f.mode, tvb(4, 1))
        name = "Mode: " .. (modes[mode] or tostring(mode))
    elseif kind == 3 then
        if size > 0 then
            root:add(f.line_bytes, tvb(4, size))
        end
        name = "(line bytes)"
    elseif kind == 2 then
        if size > 0 then
            root:add(f.cut_off, tvb(4, size))
        end
        name = "(cut off)"
    elseif kind == 0 and size >= 1 then
        name, fields = dissect_frame(root, tvb, 4, size, verdict)
    elseif kind == 1 and size >= 1 then
        name, fields = dissect_record(root, tvb, 4, size, verdict)
    end
    if fields ~= "" then
        pinfo.cols.info = name .. ": " .. fields
    else
        pinfo.cols.info = name
    end
    return tvb:len()
end

local encap = (wtap_encaps and wtap_encaps.USER0) or wtap.USER0
DissectorTable.get("wtap_encap"):add(encap, zanst)
