// The sensor's protocol, once for every program: the request frame, the request codes
// and their reply lengths, the targets, and the timings every exchange keeps.
//
// A request is 17 bytes: the sync byte 0x55, the request code, then the 15-byte parameter
// block as it stands (also for the requests that only read). A reply is raw data, told
// by its length alone (the line check's also by its content): no echo, no checksum.
#pragma once

namespace sensor {

constexpr unsigned char Sync = 0x55;
constexpr int ParamLen = 15;           // the parameter block
constexpr int RecordLen = 10;          // a live record
constexpr int JumpBufLen = 16;         // the jump buffer
constexpr int LineCheckLen = 3;        // the line check's answer, AA 03 00
constexpr int FrameLen = ParamLen + 2; // every request
constexpr int BufSize = 1024;          // the input queue and the read buffer
constexpr unsigned char LineOk[LineCheckLen] = {0xAA, 0x03, 0x00};

// The parameter block's bytes by name, range and meaning: sensor/params.h.

// Request codes, the frame's second byte.
namespace req {
constexpr unsigned char WriteRam = 0x01;    // 55 01: the block into RAM; no reply is read
constexpr unsigned char WriteEeprom = 0x02; // 55 02: the block into EEPROM; no reply is read
constexpr unsigned char ReadRam = 0x03;     // 55 03: 15 bytes, the RAM block
constexpr unsigned char ReadEeprom = 0x04;  // 55 04: 15 bytes, the EEPROM block
constexpr unsigned char Live = 0x05;        // 55 05: 10 bytes, one live record
constexpr unsigned char JumpBuffer = 0x06;  // 55 06: 16 bytes, the jump buffer
constexpr unsigned char LineCheck = 0x07;   // 55 07: 3 bytes, AA 03 00
} // namespace req

// Where a block is read from or written to (the panel's target codes).
constexpr int RAM = 1;
constexpr int EEPROM = 2;

// The request that writes to `target`: 55 01 for RAM, 55 02 for anything else.
constexpr unsigned char WriteCode(int target) {
    return target == RAM ? req::WriteRam : req::WriteEeprom;
}
// The request that reads from `target`: 55 04 for EEPROM; anything else reads the working
// RAM, 55 03.
constexpr unsigned char ReadCode(int target) {
    return target == EEPROM ? req::ReadEeprom : req::ReadRam;
}
// Bytes the reply to `code` has; 0 for the writes, which have none that is read.
constexpr int ReplyLength(unsigned char code) {
    switch (code) {
    case req::ReadRam:
    case req::ReadEeprom:
        return ParamLen;
    case req::Live:
        return RecordLen;
    case req::JumpBuffer:
        return JumpBufLen;
    case req::LineCheck:
        return LineCheckLen;
    default:
        return 0;
    }
}

// ---- timings ----------------------------------------------------------------------------
constexpr double ReplyTimeout = 3.0; // seconds every reading request waits
// Seconds the line must stay quiet after a whole reply before it counts: longer than a
// USB adapter's latency timer, so that a stray byte right behind a reply is seen.
constexpr double SettleTime = 0.030;
constexpr double RamPause = 0.1;    // the pause before a request that reads RAM
constexpr double EepromPause = 1.5; // ... and before one that reads EEPROM
constexpr int CyclePauseMs = 50;    // between two live cycles
// Time for a frame to leave before the output queue is flushed or the port closed: 17
// bytes at 4800 baud take 35 ms, an adapter holds them up to another 16 ms. A write has no
// reply to wait for, so whatever follows it soon must give it this time first.
constexpr double DrainTime = 0.1;
constexpr double ReadTimeout = 2.0; // the port's own read time-out (the bytes wait already)
constexpr long Baud = 4800;         // 8 data bits, no parity, 1 stop bit, no handshake

// Seconds to pause before a reading request to `target`.
constexpr double PauseBefore(int target) {
    return target == EEPROM ? EepromPause : RamPause;
}

} // namespace sensor
