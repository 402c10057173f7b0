-- Wireshark dissector for pelklib capture files (PELK_CAPTURE, pelk --capture).
-- Each packet is one record: a 16-byte head, then for messages the 48-byte
-- descriptor, header and data bytes, for operations the argument words and
-- reply bytes. The layout is in pelklib's docs/capture.md. Install into the
-- personal plugin folder (~/.local/lib/wireshark/plugins/) or load it with
-- `tshark -X lua_script:pelk.lua`.

local pelk = Proto("pelk", "pelklib capture record")

local kinds = { [1] = "sent", [2] = "received", [3] = "buffers", [4] = "flushed", [5] = "operation" }
local operations = {
    "Open", "ReceiveMessage", "ReceivePelkorMessage", "ReceiveBuffers", "FlushMessageBuffers",
    "SendMessage", "SendPelkorMessage", "ReadEEPROM", "GetDriverVersion", "GetBoardMapping",
    "SetBoardData", "GetBoardData", "GetErrorText", "AssertBoardReset", "LiftBoardReset",
    "DetectBoards", "SetBoardNumber", "ReadEEPROMbySlot", "GetDriverStats", "ZeroDriverStats",
    "GetWaitHandle", "RegisterForStateNotification", "IncrementBoardUseCount",
    "DecrementBoardUseCount", "StartCore" }
local statuses = {
    [0] = "PKERR_OK", [-1] = "PKERR_UNKNOWN", [-2] = "PKERR_TIMEOUT", [-3] = "PKERR_NO_MESSAGE",
    [-4] = "PKERR_BAD_MESSAGE", [-5] = "PKERR_WRONG_BUFSIZE", [-6] = "PKERR_BUFCOUNT",
    [-7] = "PKERR_NO_MEMORY", [-8] = "PKERR_SEQUENCE_ERROR", [-9] = "PKERR_ABORTED",
    [-10] = "PKERR_DATA_LOST", [-11] = "PKERR_UNEXPECTED_COMPLETION", [-12] = "PKERR_NOT_OPEN",
    [-13] = "HEADER_TOO_LONG", [-14] = "OAM_NOT_ATTACHED", [-15] = "UNKNOWN_DRIVER",
    [-16] = "NO_SUCH_BOARD", [-17] = "NOT_PROVIDED", [-18] = "INVALID_HANDLE" }
local directions = { [1] = "in", [2] = "out" }

local f = {
    direction = ProtoField.string("pelk.direction", "Direction"),
    version = ProtoField.uint8("pelk.version", "Version"),
    kind = ProtoField.uint8("pelk.kind", "Record kind", base.DEC, kinds),
    operation = ProtoField.uint16("pelk.operation", "Operation", base.DEC, operations),
    status = ProtoField.int32("pelk.status", "Status", base.DEC),
    status_name = ProtoField.string("pelk.status_name", "Status name"),
    header_len = ProtoField.uint32("pelk.header_len", "Header bytes recorded"),
    data_len = ProtoField.uint32("pelk.data_len", "Data bytes recorded"),
    dropped = ProtoField.uint32("pelk.dropped", "Bytes dropped"),
    type = ProtoField.uint32("pelk.type", "Type"),
    src1 = ProtoField.uint32("pelk.src1", "Source address 1"),
    src2 = ProtoField.uint32("pelk.src2", "Source address 2"),
    dst1 = ProtoField.uint32("pelk.dst1", "Destination address 1"),
    dst2 = ProtoField.uint32("pelk.dst2", "Destination address 2"),
    tag = ProtoField.uint32("pelk.tag", "Tag"),
    numbufs = ProtoField.uint32("pelk.numbufs", "Buffers (header included)"),
    hdr_buflen = ProtoField.uint32("pelk.hdr_buflen", "Header buffer length"),
    buflen = ProtoField.uint32("pelk.buflen", "Data buffer length"),
    word0 = ProtoField.uint32("pelk.word0", "word0"),
    word1 = ProtoField.uint32("pelk.word1", "word1"),
    opaque = ProtoField.bytes("pelk.opaque", "opaque"),
    word4 = ProtoField.uint32("pelk.word4", "word4"),
    param_count = ProtoField.uint32("pelk.param_count", "paramCount"),
    header = ProtoField.bytes("pelk.header", "Header"),
    data = ProtoField.bytes("pelk.data", "Data buffer"),
    arg = ProtoField.uint32("pelk.arg", "Argument"),
    reply = ProtoField.bytes("pelk.reply", "Reply"),
    error = ProtoField.string("pelk.error", "Error"),
}
local params = {}
for i = 0, 7 do
    params[i] = ProtoField.uint32("pelk.param" .. i, "params[" .. i .. "]")
    f["param" .. i] = params[i]
end
pelk.fields = f

local malformed = ProtoExpert.new("pelk.malformed", "Malformed pelk record", expert.group.MALFORMED,
                                  expert.severity.ERROR)
pelk.experts = { malformed }

local direction_field = Field.new("frame.packet_flags_direction")

-- Marks the record malformed at offset of the packet with what is wrong.
local function bad(tree, tvb, offset, what)
    local text = "offset " .. offset .. ": " .. what
    tree:add(f.error, text)
    tree:add_proto_expert_info(malformed, text)
    return tvb:len()
end

local function dissect_header(tree, tvb, at, length)
    if length ~= 56 then
        if length > 0 then tree:add(f.header, tvb(at, length)) end
        return
    end
    local h = tree:add(f.header, tvb(at, 56))
    h:add_le(f.word0, tvb(at, 4))
    h:add_le(f.word1, tvb(at + 4, 4))
    h:add(f.opaque, tvb(at + 8, 8))
    h:add_le(f.word4, tvb(at + 16, 4))
    h:add_le(f.param_count, tvb(at + 20, 4))
    for i = 0, 7 do h:add_le(params[i], tvb(at + 24 + 4 * i, 4)) end
end

function pelk.dissector(tvb, pinfo, root)
    pinfo.cols.protocol = "PELK"
    local tree = root:add(pelk, tvb())
    local size = tvb:len()
    local dir = direction_field()
    if dir and directions[dir.value] then tree:add(f.direction, directions[dir.value]) end
    if size < 16 then return bad(tree, tvb, 0, "record of " .. size .. " bytes is shorter than its head") end
    tree:add(f.version, tvb(0, 1))
    if tvb(0, 1):uint() ~= 1 then return bad(tree, tvb, 0, "record version " .. tvb(0, 1):uint() .. " is not supported") end
    local kind = tvb(1, 1):uint()
    local op = tvb(2, 2):le_uint()
    local status = tvb(4, 4):le_int()
    local first = tvb(8, 4):le_uint()
    local second = tvb(12, 4):le_uint()
    tree:add(f.kind, tvb(1, 1))
    tree:add_le(f.operation, tvb(2, 2))
    tree:add_le(f.status, tvb(4, 4))
    tree:add(f.status_name, statuses[status] or (status > 0 and ("errno " .. status) or "unknown"))
    if not kinds[kind] then return bad(tree, tvb, 1, "unknown record kind " .. kind) end
    local opname = operations[op] or ("operation " .. op)
    pinfo.cols.info = opname .. " status " .. status
    if kind == 5 then
        tree:add_le(f.header_len, tvb(8, 4)):set_text("Argument words: " .. first)
        if first > 16 or 16 + 4 * first + second ~= size then
            return bad(tree, tvb, 8, "operation record lengths do not add up to its size")
        end
        for i = 0, first - 1 do tree:add_le(f.arg, tvb(16 + 4 * i, 4)) end
        if second > 0 then tree:add(f.reply, tvb(16 + 4 * first, second)) end
        return size
    end
    local header_len = first
    if kind == 4 then
        header_len = 0
        tree:add_le(f.dropped, tvb(8, 4))
    else
        tree:add_le(f.header_len, tvb(8, 4))
    end
    tree:add_le(f.data_len, tvb(12, 4))
    if size < 64 or 64 + header_len + second ~= size then
        return bad(tree, tvb, 8, "message record lengths do not add up to its size")
    end
    local d = 16
    tree:add_le(f.type, tvb(d, 4))
    tree:add_le(f.src2, tvb(d + 4, 4))
    tree:add_le(f.dst2, tvb(d + 8, 4))
    tree:add_le(f.src1, tvb(d + 12, 4))
    tree:add_le(f.dst1, tvb(d + 16, 4))
    tree:add_le(f.tag, tvb(d + 20, 4))
    tree:add_le(f.numbufs, tvb(d + 24, 4))
    local numbufs = tvb(d + 24, 4):le_uint()
    if numbufs > 5 then return bad(tree, tvb, d + 24, "descriptor declares " .. numbufs .. " buffers") end
    tree:add_le(f.hdr_buflen, tvb(d + 28, 4))
    local declared = 0
    for i = 1, numbufs - 1 do
        tree:add_le(f.buflen, tvb(d + 28 + 4 * i, 4))
        declared = declared + tvb(d + 28 + 4 * i, 4):le_uint()
    end
    pinfo.cols.info = opname .. " tag " .. tvb(d + 20, 4):le_uint() .. " status " .. status
    dissect_header(tree, tvb, 64, header_len)
    if second > 0 then
        if kind == 2 or declared ~= second then
            return bad(tree, tvb, 12, "data bytes differ from the buffer lengths of the descriptor")
        end
        local at = 64 + header_len
        for i = 1, numbufs - 1 do
            local length = tvb(d + 28 + 4 * i, 4):le_uint()
            if length > 0 then tree:add(f.data, tvb(at, length)) end
            at = at + length
        end
    end
    return size
end

DissectorTable.get("wtap_encap"):add(wtap.USER0, pelk)
