#pragma once
// Miravox sound engine: the calls, options and values through which the audio channels play
// files and network streams. Decoding is FFmpeg, output is PortAudio or a virtual device.
//
// Thread rules
// - Every call may be made from any thread; the program makes them from its main thread.
// - Every call sets the calling thread's last error (BASS_ErrorGetCode), 0 on success.
// - Decoding and output never depend on the calling thread: each stream has its own decoder
//   thread, each device its own output callback or clock thread, so playing streams keep
//   sounding while the caller is blocked (a network open blocks its caller up to
//   BASS_CONFIG_NET_TIMEOUT).
// - The "current device" (BASS_SetDevice) is one value for the whole process.
// - Nothing here ever calls back into program code.
//
// Failure results: FALSE / 0 for BOOL, handles and most DWORDs; (QWORD)-1 for positions,
// lengths, byte counts and file positions; (DWORD)-1 for BASS_ChannelGetData and
// BASS_ChannelFlags; a negative number for BASS_ChannelBytes2Seconds; NULL for tags.
//
// Units: every stream is decoded to 44100 Hz stereo 32-bit float, and positions, lengths and
// the byte counts of the file-position modes 2 and 5 are bytes of that output:
// 8 bytes per sample frame, 352.8 bytes per millisecond.
//
// Error codes chosen for each failure
//   BASS_ERROR_MEM        1  out of memory; more than 256 streams on one device
//   BASS_ERROR_FILEOPEN   2  local file missing, unreadable or a folder; HTTP status other than
//                            2xx/3xx (except 401/403); too many redirects (a redirect loop); a
//                            response header that never ends; an unsupported address scheme; a
//                            host name that does not resolve
//   BASS_ERROR_DRIVER     3  a real output device that cannot be opened
//   BASS_ERROR_HANDLE     5  handle unknown or already freed (also after BASS_STREAM_AUTOFREE)
//   BASS_ERROR_FORMAT     6  decoded audio in a sample format or layout that cannot be converted
//   BASS_ERROR_POSITION   7  BASS_ChannelSetPosition beyond the end of a file stream
//   BASS_ERROR_INIT       8  the current device is not initialised (stream creation, BASS_Free,
//                            BASS_Start/Stop/Update, BASS_GetDevice); BASS_SetDevice of a device
//                            that is not initialised
//   BASS_ERROR_START      9  a real output device that cannot be started
//   BASS_ERROR_ALREADY   14  BASS_Init of a device already initialised
//   BASS_ERROR_NOTAUDIO  17  a container whose tracks are none of them audio
//   BASS_ERROR_ILLTYPE   19  unknown attribute, position mode, tag type, data flag, file-position mode
//   BASS_ERROR_ILLPARAM  20  unknown config option; a null pointer; a NaN volume; a memory stream
//                            without length; a non-zero URL offset; a proxy other than none
//   BASS_ERROR_DEVICE    23  a device number that does not exist
//   BASS_ERROR_NOPLAY    24  BASS_ChannelPause on a channel that is not playing
//   BASS_ERROR_FREQ      25  a real output device that refuses 44100 Hz
//   BASS_ERROR_NONET     32  connection refused, network or host unreachable, connection reset
//                            or closed before any answer
//   BASS_ERROR_CREATE    33  a capture device whose WAV file cannot be created
//   BASS_ERROR_NOTAVAIL  37  no such value for this stream: length or seek of a network stream,
//                            "connected" of a file, HTTP tags of a stream without them
//   BASS_ERROR_TIMEOUT   40  the open (connect, answer, first audio) not done within
//                            BASS_CONFIG_NET_TIMEOUT
//   BASS_ERROR_FILEFORM  41  data that is not audio we know: random bytes, an empty file, garbage
//                            from a server, a playlist without entries or that leads only to itself
//   BASS_ERROR_CODEC     44  an audio track whose codec has no decoder
//   BASS_ERROR_ENDED     45  BASS_ChannelPlay of a network stream whose source has ended
//   BASS_ERROR_WMA_DENIED 1002  HTTP 401 or 403
//   BASS_ERROR_UNKNOWN   -1  anything else on a network source (logged with FFmpeg's text)
// Stopping a stream never leaves error 7: BASS_ChannelStop succeeds, BASS_ChannelSetPosition on a
// network stream gives 37, and BASS_ChannelIsActive gives 0 (5 for a freed handle), so a channel's
// stop sequence never reads "invalid position".
// Every failed open also writes one line to stderr ("soundlib: cannot play ...: reason (error N)").

#include <cstdint>

using DWORD = uint32_t;
using QWORD = uint64_t;
using BOOL = int;
using HSTREAM = DWORD;
using HPLUGIN = DWORD;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

// Version: high word 0x0204.
constexpr DWORD BASSVERSION = 0x0204;

// Error codes (BASS_ErrorGetCode).
constexpr int BASS_OK = 0;
constexpr int BASS_ERROR_MEM = 1;
constexpr int BASS_ERROR_FILEOPEN = 2;
constexpr int BASS_ERROR_DRIVER = 3;
constexpr int BASS_ERROR_BUFLOST = 4;
constexpr int BASS_ERROR_HANDLE = 5;
constexpr int BASS_ERROR_FORMAT = 6;
constexpr int BASS_ERROR_POSITION = 7;
constexpr int BASS_ERROR_INIT = 8;
constexpr int BASS_ERROR_START = 9;
constexpr int BASS_ERROR_CDINIT = 10;
constexpr int BASS_ERROR_CDINIT2 = 11;
constexpr int BASS_ERROR_NOCD = 12;
constexpr int BASS_ERROR_CDTRACK = 13;
constexpr int BASS_ERROR_ALREADY = 14;
constexpr int BASS_ERROR_CDVOL = 15;
constexpr int BASS_ERROR_NOPAUSE = 16;
constexpr int BASS_ERROR_NOTAUDIO = 17;
constexpr int BASS_ERROR_NOCHAN = 18;
constexpr int BASS_ERROR_ILLTYPE = 19;
constexpr int BASS_ERROR_ILLPARAM = 20;
constexpr int BASS_ERROR_NO3D = 21;
constexpr int BASS_ERROR_NOEAX = 22;
constexpr int BASS_ERROR_DEVICE = 23;
constexpr int BASS_ERROR_NOPLAY = 24;
constexpr int BASS_ERROR_FREQ = 25;
constexpr int BASS_ERROR_NOA3D = 26;
constexpr int BASS_ERROR_NOTFILE = 27;
constexpr int BASS_ERROR_NOHW = 29;
constexpr int BASS_ERROR_NOSYNC = 30;
constexpr int BASS_ERROR_EMPTY = 31;
constexpr int BASS_ERROR_NONET = 32;
constexpr int BASS_ERROR_CREATE = 33;
constexpr int BASS_ERROR_NOFX = 34;
constexpr int BASS_ERROR_PLAYING = 35;
constexpr int BASS_ERROR_NOTAVAIL = 37;
constexpr int BASS_ERROR_DECODE = 38;
constexpr int BASS_ERROR_DX = 39;
constexpr int BASS_ERROR_TIMEOUT = 40;
constexpr int BASS_ERROR_FILEFORM = 41;
constexpr int BASS_ERROR_SPEAKER = 42;
constexpr int BASS_ERROR_VERSION = 43;
constexpr int BASS_ERROR_CODEC = 44;
constexpr int BASS_ERROR_ENDED = 45;
constexpr int BASS_ERROR_BUSY = 46;
constexpr int BASS_ERROR_WMA_LICENSE = 1000;
constexpr int BASS_ERROR_WMA = 1001;
constexpr int BASS_ERROR_WMA_DENIED = 1002;
constexpr int BASS_ERROR_UNKNOWN = -1;

// Config options (BASS_SetConfig / BASS_GetConfig; BASS_SetConfigPtr for NET_AGENT).
constexpr DWORD BASS_CONFIG_BUFFER = 0;           // ms of decoded audio a file stream keeps ahead
constexpr DWORD BASS_CONFIG_UPDATEPERIOD = 1;     // accepted; output never depends on updates
constexpr DWORD BASS_CONFIG_NET_TIMEOUT = 11;     // ms bound on a network open (0 = 5000)
constexpr DWORD BASS_CONFIG_NET_BUFFER = 12;      // ms of decoded audio a network stream keeps ahead
constexpr DWORD BASS_CONFIG_NET_PREBUF = 15;      // percent of NET_BUFFER to fill before the open returns
constexpr DWORD BASS_CONFIG_NET_AGENT = 16;       // user agent text (BASS_SetConfigPtr)
constexpr DWORD BASS_CONFIG_NET_PROXY = 17;       // only "none" (0 / NULL) is supported
constexpr DWORD BASS_CONFIG_NET_PASSIVE = 18;     // accepted (FTP is not supported)
constexpr DWORD BASS_CONFIG_REC_BUFFER = 19;      // accepted (no recording)
constexpr DWORD BASS_CONFIG_NET_PLAYLIST = 21;    // 1: a .pls/.m3u answer is followed to its first entry
constexpr DWORD BASS_CONFIG_UPDATETHREADS = 24;   // accepted; output never depends on updates
constexpr DWORD BASS_CONFIG_DEV_DEFAULT = 36;     // accepted
constexpr DWORD BASS_CONFIG_NET_READTIMEOUT = 37; // ms a network stream may stay silent (0 = no limit)
constexpr DWORD BASS_CONFIG_DEV_NONSTOP = 50;     // accepted
constexpr DWORD BASS_CONFIG_WMA_PREBUF = 0x10101; // accepted

// Stream and sample flags.
constexpr DWORD BASS_SAMPLE_LOOP = 4;
constexpr DWORD BASS_SAMPLE_SOFTWARE = 16;      // accepted: all mixing is in software
constexpr DWORD BASS_SAMPLE_FLOAT = 256;        // accepted: all mixing is in float
constexpr DWORD BASS_STREAM_AUTOFREE = 0x40000; // free the stream when it ends by itself
constexpr DWORD BASS_UNICODE = 0x80000000;      // paths and addresses are UTF-16 (char16_t), else UTF-8

// Channel states (BASS_ChannelIsActive).
constexpr DWORD BASS_ACTIVE_STOPPED = 0;
constexpr DWORD BASS_ACTIVE_PLAYING = 1;
constexpr DWORD BASS_ACTIVE_STALLED = 2; // playing, buffer empty, network source not ended
constexpr DWORD BASS_ACTIVE_PAUSED = 3;

// Attributes, position modes, tags, data flags.
constexpr DWORD BASS_ATTRIB_VOL = 2; // 0 silent .. 1 full; above 1 amplifies; negative reads as 0
// Read-only attributes of our own (0 for a file). A network stream is held to the sound card's
// clock by resampling it slightly: DRIFT is the correction in use, in parts per million (+: the
// stream is stretched, as when the card plays faster than the server sends), within +-1000.
// DRIFT_NOTICE stays 0 until the server's clock and the card's have differed by 300 ppm or more
// for ten minutes of audio, then gives the correction that difference needs: a clock that is well
// off, worth one line in the operation log (a correction that only drains a server's burst at the
// start is not counted).
constexpr DWORD BASS_ATTRIB_MIRAVOX_DRIFT = 0x7F001;
constexpr DWORD BASS_ATTRIB_MIRAVOX_DRIFT_NOTICE = 0x7F002;
// LINK_LOST is 1 once a network stream's link is gone for good (the server closed the connection,
// sent nothing within the read time-out, or the source ended) while what it buffered may still be
// playing, else 0: the moment to bring in another source before the air runs dry.
constexpr DWORD BASS_ATTRIB_MIRAVOX_LINK_LOST = 0x7F003;
constexpr DWORD BASS_POS_BYTE = 0;
constexpr DWORD BASS_TAG_HTTP = 3; // response header lines, each ended by '\0', then an empty line
constexpr DWORD BASS_DATA_FFT512 = 0x80000001; // 256 floats: Hann-windowed FFT magnitudes

// File-position modes (BASS_StreamGetFilePosition).
constexpr DWORD BASS_FILEPOS_CURRENT = 0;   // bytes of the source read so far
constexpr DWORD BASS_FILEPOS_DOWNLOAD = 1;  // bytes of the source received so far
constexpr DWORD BASS_FILEPOS_END = 2;       // file: its size; network: the buffer's capacity (output bytes)
constexpr DWORD BASS_FILEPOS_START = 3;     // 0
constexpr DWORD BASS_FILEPOS_CONNECTED = 4; // network: 1 while data still arrives, else 0
constexpr DWORD BASS_FILEPOS_BUFFER = 5;    // output bytes decoded ahead of the play position

// Device information flags.
constexpr DWORD BASS_DEVICE_ENABLED = 1;
constexpr DWORD BASS_DEVICE_DEFAULT = 2;
constexpr DWORD BASS_DEVICE_INIT = 4;

struct BASS_DEVICEINFO {
    const char* name;   // 8-bit (UTF-8) device name; valid until the process ends
    const char* driver; // back end and identifier ("portaudio:ALSA:...", "silent", "capture:PATH")
    DWORD flags;        // BASS_DEVICE_ENABLED | BASS_DEVICE_DEFAULT | BASS_DEVICE_INIT
};

// Devices: 0 is "No sound" (a silent device), 1 the system's default output, then each PortAudio
// output by name. MIRAVOX_AUDIO_DEVICES="silent:NAME;capture:NAME:PATH" replaces them (from 1 on)
// with virtual devices; a capture device appends its mix to a 44100 Hz stereo 16-bit WAV file
// whose header is kept current at least once a second. With no real device, device 1 is silent.
// Two more kinds stand for sound cards that fail, for fault tests: "broken:NAME" never
// initialises (BASS_Init fails with BASS_ERROR_DRIVER), "flaky:NAME:COUNT" initialises COUNT
// times as a silent device and fails every later time (a card lost after COUNT bring-ups).
// Virtual devices play MIRAVOX_CLOCK_RATE times as fast as real time (1 when unset), to keep
// pace with a program clock that runs that fast in a simulated run.
DWORD BASS_GetVersion();
BOOL BASS_Init(int device, DWORD freq, DWORD flags, void* win, const void* clsid); // -1 = default (1)
BOOL BASS_Free();                  // frees the current device and every stream on it
BOOL BASS_SetDevice(DWORD device); // 23 if unknown, 8 if not initialised
DWORD BASS_GetDevice();            // (DWORD)-1 and 8 when no device is current and initialised
BOOL BASS_GetDeviceInfo(DWORD device, BASS_DEVICEINFO* info);
BOOL BASS_SetConfig(DWORD option, DWORD value);
DWORD BASS_GetConfig(DWORD option);
BOOL BASS_SetConfigPtr(DWORD option, const void* value);
int BASS_ErrorGetCode();
BOOL BASS_Start();              // resumes the current device's output
BOOL BASS_Stop();               // silences the current device; BASS_ChannelPlay or BASS_Start resume it
BOOL BASS_Update(DWORD length); // TRUE when the current device is initialised; output does not need it
HPLUGIN BASS_PluginLoad(const void* file,
                        DWORD flags); // FFmpeg decodes every format: a handle if the file exists
BOOL BASS_PluginFree(HPLUGIN handle); // 0 = all

// Streams. A stream plays on the device that was current when it was created.
HSTREAM BASS_StreamCreateFile(BOOL mem, const void* file, QWORD offset, QWORD length, DWORD flags);
HSTREAM BASS_WMA_StreamCreateFile(BOOL mem, const void* file, QWORD offset, QWORD length, DWORD flags);
HSTREAM BASS_StreamCreateURL(const void* url, DWORD offset, DWORD flags, void* proc, void* user);
HSTREAM BASS_AAC_StreamCreateURL(const void* url, DWORD offset, DWORD flags, void* proc, void* user);
HSTREAM BASS_OPUS_StreamCreateURL(const void* url, DWORD offset, DWORD flags, void* proc, void* user);
HSTREAM BASS_HLS_StreamCreateURL(const void* url, DWORD flags, void* proc, void* user);
BOOL BASS_StreamFree(HSTREAM handle);

// Channels.
BOOL BASS_ChannelPlay(DWORD handle, BOOL restart); // continues from the position; an ended file restarts at 0
BOOL BASS_ChannelStop(DWORD handle);               // keeps the position and the buffered audio
BOOL BASS_ChannelPause(DWORD handle);
DWORD BASS_ChannelIsActive(DWORD handle); // BASS_ACTIVE_*; 0 with error 5 for a bad handle
DWORD BASS_ChannelFlags(DWORD handle, DWORD flags, DWORD mask); // LOOP and AUTOFREE can change
BOOL BASS_ChannelGetAttribute(DWORD handle, DWORD attrib, float* value);
BOOL BASS_ChannelSetAttribute(DWORD handle, DWORD attrib, float value);
QWORD BASS_ChannelGetPosition(DWORD handle, DWORD mode);
QWORD BASS_ChannelGetLength(DWORD handle, DWORD mode);
BOOL BASS_ChannelSetPosition(DWORD handle, QWORD pos, DWORD mode);
double BASS_ChannelBytes2Seconds(DWORD handle, QWORD pos);
QWORD BASS_ChannelSeconds2Bytes(DWORD handle, double secs);
QWORD BASS_StreamGetFilePosition(HSTREAM handle, DWORD mode);
const char* BASS_ChannelGetTags(DWORD handle, DWORD tags);           // valid until the stream is freed
DWORD BASS_ChannelGetData(DWORD handle, void* buffer, DWORD length); // FFT512: returns 1024 (bytes written)
// Peak of the last 1024 frames played, before the channel's volume: left in the low word,
// right in the high word, 0 (silence) to 32768 (full scale); (DWORD)-1 for a bad handle.
DWORD BASS_ChannelGetLevel(DWORD handle);
