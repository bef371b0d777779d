// mixsim: a SIMULATED vision mixer on a pseudo-terminal, for host-side tests,
// the demo and the benchmarks. It is not the product and talks to no real
// mixer.
//
// msOpen creates a pty (raw, no echo, also on the slave side), points the
// Wine COM port mapping $MIXTALLY_PORTS/com<n> at the slave (a symlink,
// replaced atomically), and starts a reader thread that records every byte
// the driver sends (CLOCK_MONOTONIC timestamps), cuts it into messages and
// answers each poll 02 FF 80 according to the acknowledge mode.
//
// What a pty cannot show: the driver's line break (a pty carries no break
// condition), and parity (a pty refuses it). The driver's purges of its
// device queues do show, as MSK_PURGE_RX / MSK_PURGE_TX events (the master
// runs in packet mode). All functions are thread-safe.
#pragma once
#include <stddef.h>
#include <stdint.h>

enum MSACK {
    MSACK_NORMAL,   // 84 at once
    MSACK_LATE,     // 84 after the delay
    MSACK_NONE,     // no answer
    MSACK_NAK       // 85 (after the delay, 0 by default)
};

// What the driver sent, cut into messages. Counted frames, except the lone
// restart byte 30 at the start of a message.
enum MSKIND {
    MSK_POLL,       // 02 FF 80
    MSK_STARTUP,    // 03 24 11 FF
    MSK_MAINT1,     // 03 24 11 01
    MSK_MAINT2,     // 03 24 11 02
    MSK_RESTART,    // 30
    MSK_FRAME,      // any other complete counted frame
    MSK_PARTIAL,    // a frame cut off by a gap of 500 ms or by a purge
    MSK_PURGE_RX,   // the driver purged its device's receive queue
    MSK_PURGE_TX,   // the driver purged its device's transmit queue
    MSK_KINDS
};

#define MS_MAXMSG 256

struct MSMSG {
    int64_t llNs;       // CLOCK_MONOTONIC ns when the last byte was read
    int iKind;          // MSK_*
    int iLen;           // bytes in ab (count byte included; 0 for purges)
    uint8_t ab[MS_MAXMSG];
};

struct MSSTATS {
    uint64_t aullKind[MSK_KINDS];   // messages of each kind received
    uint64_t ullRxBytes;            // bytes received from the driver
    uint64_t ullTxBytes;            // bytes sent to the driver
    uint64_t ullAcks;               // 84 sent in answer to polls
    uint64_t ullNaks;               // 85 sent in answer to polls
};

struct MIXSIM;

// Creates the pty and maps COM<iPort> to it. pszPortsDir: NULL for the
// MIXTALLY_PORTS environment variable. NULL on failure, reason in pszErr.
MIXSIM *msOpen(int iPort, const char *pszPortsDir, char *pszErr, size_t cbErr);
// Stops the reader, removes the mapping (if still ours) and closes the pty.
void msClose(MIXSIM *ps);

const char *msSlaveName(const MIXSIM *ps);   // /dev/pts/N

void msSetAck(MIXSIM *ps, int iMode, int iDelayMs);
// "normal", "late:<ms>", "none", "nak" or "nak:<ms>"; 0, or -1 when unknown.
int msParseAck(const char *psz, int *piMode, int *piDelayMs);

// Writes bytes to the driver. *pllDoneNs (optional): CLOCK_MONOTONIC ns right
// after the last byte was handed to the pty. 0, or -1 when the pty took
// nothing for 10 s or is hung up.
int msWrite(MIXSIM *ps, const uint8_t *pb, size_t cb, int64_t *pllDoneNs);
// Writes paced like a line at iBaud (10 bits per byte), in chunks of up to
// cbChunk bytes at absolute deadlines. 0 or -1.
int msWritePaced(MIXSIM *ps, const uint8_t *pb, size_t cb, int iBaud, size_t cbChunk);
// The same for a run of counted frames (count byte N, then N bytes), each
// written whole, as a mixer sends them: the simulator's answers to polls go
// between frames, never into one. 0 or -1 (also for a run that does not end
// on a frame's last byte).
int msWriteFramesPaced(MIXSIM *ps, const uint8_t *pb, size_t cb, int iBaud);

// Compressed tally frame of a 16-byte map: count, 24 91 FF, mask (high byte
// first), then the non-zero map bytes, highest map byte first. pbOut needs
// 22 bytes. Returns the frame length.
size_t msEncodeTally(const uint8_t abMap[16], uint8_t *pbOut);
// The same with an explicit mask: the carried bytes are those of the mask.
size_t msEncodeTallyMask(const uint8_t abMap[16], uint16_t wMask, uint8_t *pbOut);
// Sends the map's frame; the simulator remembers it as the current map.
int msSendMap(MIXSIM *ps, const uint8_t abMap[16], int64_t *pllDoneNs);
// Sets map byte x of the current map and sends the map.
int msSendTallyByte(MIXSIM *ps, int x, uint8_t b, int64_t *pllDoneNs);
// iCount copies of a frame, iGapMs apart (0: back to back).
int msSendBurst(MIXSIM *ps, const uint8_t *pb, size_t cb, int iCount, int iGapMs);
// cb pseudo-random bytes from seed.
int msSendGarbage(MIXSIM *ps, size_t cb, uint32_t uSeed);

// Waits until at least ullCount messages of kind iKind have been received
// since open or msReset. 1 when reached, 0 when timeoutMs passed first.
int msWaitKind(MIXSIM *ps, int iKind, uint64_t ullCount, int timeoutMs);
// Waits until every poll received so far has had its answer written to the
// line. The reader counts a poll before it answers it, so bytes sent right
// after msWaitKind(MSK_POLL) can still go out ahead of the answer; an answer
// is counted (msGetStats) once written. At once when the ack mode answers
// none. 1 when done, 0 when timeoutMs passed first.
int msWaitAnswered(MIXSIM *ps, int timeoutMs);
// Waits until at least cb bytes have been received.
int msWaitBytes(MIXSIM *ps, uint64_t cb, int timeoutMs);
uint64_t msCount(MIXSIM *ps, int iKind);
void msGetStats(MIXSIM *ps, MSSTATS *pst);

// Copies received messages from index ullFrom on; returns how many.
size_t msGetMessages(MIXSIM *ps, uint64_t ullFrom, MSMSG *pOut, size_t cMax);
// Copies received bytes (and their times, pllNs optional) from ullFrom on.
size_t msGetBytes(MIXSIM *ps, uint64_t ullFrom, uint8_t *pb, int64_t *pllNs, size_t cMax);
// Forgets everything received (counts included); the map stays.
void msReset(MIXSIM *ps);

// Called on the reader thread for every message, outside the lock (CLI).
void msSetListener(MIXSIM *ps, void (*pfn)(void *pv, const MSMSG *pm), void *pv);

// Removes the COM mapping (a new open by the driver finds no device).
int msUnmap(MIXSIM *ps);
// Stops (1) or resumes (0) reading from the pty: what the driver writes then
// stays in its output queue, as on a line held up by flow control.
void msPause(MIXSIM *ps, int fPause);
// Closes the master: the driver's reads fail from now on (broken pipe).
void msHangup(MIXSIM *ps);
// Pulls the simulated USB serial adapter out: closes the pty (both sides) and
// removes the COM mapping, as the port's name vanishes with a real adapter.
// The driver's reads fail (broken pipe, writes: not ready, under Wine); an
// open meanwhile finds no device (under Wine, a stub whose calls all fail).
// 0, or -1 when it is unplugged already.
int msUnplug(MIXSIM *ps);
// Plugs a new adapter in: a new pty, and the COM mapping re-pointed at it
// atomically once the simulator serves it. What the old line left
// half-received or unanswered is dropped; messages and counts carry on. 0, or
// -1 (reason in pszErr) when it is still plugged in or no pty can be made.
int msReplug(MIXSIM *ps, char *pszErr, size_t cbErr);

int64_t msNowNs(void);
const char *msKindName(int iKind);
