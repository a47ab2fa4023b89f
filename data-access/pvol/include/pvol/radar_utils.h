/* Conversions between the encodings of ORVA files and ordinary values: fixed-width texts, the
 * ymds_time date record, binary angles, gas attenuation and rain codes, the data-type mask,
 * Nyquist interval, signal-processor noise power, and the data codes of every ORVA data type.
 *
 * All functions are pure computations on their arguments and allocate nothing. */
#ifndef PVOL_RADAR_UTILS_H
#define PVOL_RADAR_UTILS_H

#include <stddef.h>
#include <stdint.h>
#include <sys/time.h>

#include "pvol_export.h"

PVOL_BEGIN_DECLS

/* ORVA date/time record (12 bytes, little-endian, packed: no member needs padding). */
typedef struct ymds_time {
    int32_t seconds;      /* seconds since midnight */
    uint16_t msecs_flags; /* bits 0-9 milliseconds, YMDS_FLG_DST, YMDS_FLG_UTC */
    int16_t year;         /* full year */
    int16_t month;        /* 1 to 12 */
    int16_t day;          /* 1 to 31 */
} ymds_time;

#define YMDS_MSECS_MASK 0x3FF
#define YMDS_FLG_DST 0x400 /* daylight-saving time */
#define YMDS_FLG_UTC 0x800 /* the time is UTC: the minutes-west offset does not apply */

/* Data-type mask (24 bytes): a set of up to 160 ORVA data-type codes in five code words, plus
 * the extended-header word that belongs to the record but never to the set. */
typedef struct dsp_data_mask {
    uint32_t mask_word_0; /* codes 0..31 */
    uint32_t mask_xhdr;   /* extended-header word; the mask functions never touch it */
    uint32_t mask_word_1; /* codes 32..63 */
    uint32_t mask_word_2; /* codes 64..95 */
    uint32_t mask_word_3; /* codes 96..127 */
    uint32_t mask_word_4; /* codes 128..159 */
} dsp_data_mask;

/* ---- Fixed-width blank-padded texts ---- */

/* Copies a fixed-width field of len characters into dst (which holds len + 1 bytes), terminates it
 * and strips trailing blanks. A NUL inside the field ends the stripping. Returns dst; does
 * nothing when dst or src is null. */
PVOL_API char *fstr2cstr(char *dst, const char *src, size_t len);

/* Copies at most len characters of the text src into the field dst and pads it with blanks to len
 * characters. No terminator is written. Returns dst; does nothing when dst or src is null. */
PVOL_API char *cstr2fstr(char *dst, const char *src, size_t len);

/* ---- Times ---- */

/* The date and time of in, read as UTC, plus minutes x 60 seconds unless in is flagged UTC
 * (minutes west of UTC, as the ingest header records them). Independent of the process's time
 * zone. Returns 0. */
PVOL_API int ymds2timeval(struct timeval *out, const ymds_time *in, int minutes);

/* The UTC date and time of in, flagged UTC, with milliseconds. Returns 0. */
PVOL_API int timeval2ymds(ymds_time *out, const struct timeval *in);

/* ---- Signal processor ---- */

/* Maximum power of the processor from its status block (bits 8-11 of the word at byte 102). */
PVOL_API double tarn7_power_max(const void *status);

/* Noise power of a receiver channel from the processor status block of the ingest header. */
PVOL_API float fdsptype_noise_power(int dsp_type, int channel, const void *status);

/* ---- Gaseous attenuation, dB/km, in its 16-bit code ---- */

PVOL_API float fGasAttenFromCode16(uint16_t code);
PVOL_API uint16_t iCode16FromFGasAtten(float value);

/* ---- Data-type mask; the type is reduced to its low 8 bits, codes 160..255 are ignored ---- */

/* Clears the five code words (the extended-header word stays). Returns mask. */
PVOL_API dsp_data_mask *DspMaskClearAll(dsp_data_mask *mask);
PVOL_API void DspMaskSet(dsp_data_mask *mask, int type);
PVOL_API void DspMaskClear(dsp_data_mask *mask, int type);
/* 1 when the type is in the mask, else 0. */
PVOL_API int lDspMaskTest(const dsp_data_mask *mask, int type);

/* ---- Binary angles: 16-bit (65536 units a circle) and 32-bit (2^32 units) ---- */

PVOL_API double fRadianFromBin2(uint16_t code); /* -pi to pi */
PVOL_API double fRadianFromBin4(uint32_t code); /* -pi to pi */
PVOL_API double fPDegFromBin2(uint16_t code);   /* 0 to 360 degrees */
PVOL_API double fElDegFromBin2(uint16_t code);  /* -90 to 270 degrees */
/* Rounded codes that do not wrap: callers keep the low 16 bits. A NaN gives 0, values beyond
 * the range of int saturate. */
PVOL_API int iBin2FromFDeg(double degrees);
PVOL_API int iBin2FromRadian(double radians);
/* Any angle, wrapped into 0..2pi (2pi wraps to 0); a non-finite angle gives 0. */
PVOL_API uint32_t iBin4FromRadian(double radians);
/* Midpoint of two 16-bit codes along the shorter arc. */
PVOL_API uint16_t iBin2NarrowMidPt(uint16_t a, uint16_t b);

/* ---- Nyquist interval: PRF in Hz, wavelength in hundredths of a centimetre, m/s ---- */

/* unfold 1, 2, 3 multiply by 2, 3, 4 (multi-PRF); polarization 2 halves the interval. */
PVOL_API double fNyquistVelocity(double prf, int unfold, double wavelength, int polarization);
PVOL_API double fNyquistWidth(double prf, double wavelength, int polarization);
PVOL_API double fPrfFromNyquistVelocity(double velocity, int unfold, double wavelength,
                                        int polarization);

/* ---- Rain codes: 16-bit floating format, 4-bit exponent and 12-bit mantissa ---- */

PVOL_API void rain_long_to_file(const uint32_t *src, size_t n, uint16_t *dst);
PVOL_API uint32_t rain_file_to_long(uint16_t code);

/* ---- Data codes of the ORVA data types ---- */

#define DATA_CONVERT_INCHES 0x1000 /* rainfall values in inches */
#define DATA_CONVERT_FEET 0x2000   /* heights in feet */
#define DATA_CONVERT_CLASSES 6

/* Radar parameters and unit choices of the code conversions. */
typedef struct data_convert {
    double velocity;                                /* Nyquist velocity, m/s */
    double width;                                   /* Nyquist width, m/s */
    double wavelength_cm;                           /* wavelength, cm */
    int32_t flags;                                  /* DATA_CONVERT_INCHES, DATA_CONVERT_FEET */
    unsigned char classes[DATA_CONVERT_CLASSES][4]; /* class table of enumerated types */
} data_convert;

/* Zero-fills conv and sets it up from the radar parameters (wavelength in hundredths of a
 * centimetre) with the default class table. */
PVOL_API void FillDataConvert(data_convert *conv, double prf, int unfold, double wavelength,
                              int polarization, int flags);

/* User value to code of the data type (the low 8 bits for 8-bit types). conv may be null.
 * Values out of range clamp to the extreme codes. A NaN encodes to code 0, the code ORVA
 * keeps for "no data"; so does an infinite angle, which has no direction. */
PVOL_API uint16_t iuser_to_data(double value, int type, const data_convert *conv);

/* Code of the data type to user value. conv may be null. */
PVOL_API double fdata_to_user(uint16_t code, int type, const data_convert *conv);

/* Step and start of the type's codes: user value = code x step + start for the linear types,
 * nominal values for the others. conv may be null. */
PVOL_API double fDataScalePerBit(int type, const data_convert *conv);
PVOL_API double fDataStartValue(int type, const data_convert *conv);

PVOL_END_DECLS

#endif /* PVOL_RADAR_UTILS_H */
