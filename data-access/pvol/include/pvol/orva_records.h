/* Binary record layouts of ORVA RAW product files and ingest files.
 *
 * All integers are little-endian. Every field lies at its natural alignment, so the records have
 * no padding and map byte for byte onto the files; the sizes and offsets are checked at compile
 * time below. Reserved ranges are named res_<offset> (offsets from the start of the enclosing
 * top-level record) and are carried, never interpreted. Texts are fixed-width and blank-padded
 * unless stated (fstr2cstr and cstr2fstr of radar_utils.h convert them). Read records out of file
 * buffers with memcpy. */
#ifndef PVOL_ORVA_RECORDS_H
#define PVOL_ORVA_RECORDS_H

#include <stddef.h>
#include <stdint.h>

#include "pvol_export.h"
#include "radar_utils.h"

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "ORVA records map onto little-endian memory only"
#endif

PVOL_BEGIN_DECLS

/* Structure identifiers (structure_header.id) and their format versions. */
#define ST_TASK_CONF 22
#define ST_INGEST_HDR 23
#define ST_INGEST_DATA 24
#define ST_PRODUCT_CONF 26
#define ST_PRODUCT_HDR 27
#define ST_TASK_CONF_VERSION 5
#define ST_INGEST_HDR_VERSION 4
#define ST_INGEST_DATA_VERSION 3
#define ST_PRODUCT_CONF_VERSION 6
#define ST_PRODUCT_HDR_VERSION 8

#define PROD_RAW 15            /* pcf.iptype of a RAW product */
#define RAW_FLAG_ONE_SWEEP 0x1 /* pcf.raw_flags: the file holds one sweep only */
#define PRODUCT_FORMAT_VERSION "8.13"

#define PRODUCT_HDR_SIZE 640
#define PRODUCT_CONF_SIZE 320
#define INGEST_HDR_SIZE 4884
#define TASK_CONF_SIZE 2612
#define IDHDR_SIZE 76
#define RAY_HEADER_WORDS 6
#define RAY_HEADER_SIZE 12

/* RAW product files: records of 6144 bytes; record 0 holds the product header, record 1 the
 * ingest header, data records start at 2 with a 12-byte record header. */
#define RAW_RECORD_SIZE 6144
#define RAW_RECORD_WORDS 3072
#define RAW_RECORD_HEADER_WORDS 6
#define RAW_FIRST_DATA_RECORD 2

/* Scan modes (tcf.scan.imode). */
#define SCAN_PPI_SECTOR 1
#define SCAN_RHI_SECTOR 2
#define SCAN_MANUAL 3
#define SCAN_PPI_FULL 4
#define SCAN_RHI_FULL 7

/* Bits 12..13 of proc_status.iflags: when not both set, differential phase uses half its code
 * range. */
#define PROC_STATUS_FULL_PHIDP 0x3000

/* Code of the extended header in the data-type mask and in IDhdr.idata_type. */
#define DATA_TYPE_XHDR 0

/* Structure header (12 bytes) opening each top-level structure. */
typedef struct structure_header {
    int16_t id;       /* ST_... */
    int16_t iversion; /* format version of the structure */
    int32_t ibytes;   /* size of the structure in bytes */
    int16_t ireserved;
    int16_t iflags;
} structure_header;

/* Product configuration (320 bytes at product header offset 12). The fields from offset 176 on
 * are those of a RAW product; other product types give them other meanings. */
typedef struct product_configuration {
    structure_header hdr; /* 12 */
    int16_t iptype;       /* 24: product type, PROD_RAW */
    int16_t isched;       /* 26 */
    int32_t iseconds;     /* 28 */
    ymds_time gen_time;   /* 32: time the header was generated */
    ymds_time sweep_time; /* 44 */
    ymds_time file_time;  /* 56 */
    uint8_t res_68[6];    /* 68 */
    char prod_name[12];   /* 74 */
    char task_name[12];   /* 86 */
    uint16_t iflags;      /* 98 */
    int32_t ixscale;      /* 100: pixel size along X, cm */
    int32_t iyscale;      /* 104: pixel size along Y, cm */
    uint8_t res_108[4];   /* 108 */
    int32_t ixsize;       /* 112: pixels along X */
    int32_t iysize;       /* 116: pixels along Y */
    uint8_t res_120[4];   /* 120 */
    int32_t iradx;        /* 124: radar X position, thousandths of a pixel */
    int32_t irady;        /* 128: radar Y position, thousandths of a pixel */
    uint8_t res_132[12];  /* 132 */
    uint8_t b_144[12];    /* 144 */
    uint8_t res_156[2];   /* 156 */
    uint8_t iproj_type;   /* 158: map projection code */
    uint8_t res_159[17];  /* 159 */
    uint32_t mask0;       /* 176: data-type mask, codes 0..31 */
    int32_t irange_last;  /* 180: range of the last bin, cm */
    uint8_t res_184[4];   /* 184 */
    uint32_t raw_flags;   /* 188: RAW_FLAG_... */
    uint8_t res_192[4];   /* 192 */
    uint32_t mask1[5];    /* 196: data-type mask words at mask offsets 4..23 */
    int32_t iing_130;     /* 216 */
    uint8_t res_220[112]; /* 220 */
} product_configuration;

/* Product end (308 bytes at product header offset 332). */
typedef struct product_end {
    char prod_site[16];     /* 332: generating site */
    char version[8];        /* 348: NUL-padded format version */
    char ing_version[8];    /* 356: NUL-padded ingest software version */
    ymds_time ing_time;     /* 364 */
    uint8_t res_376[28];    /* 376 */
    int16_t itz_offset;     /* 404 */
    char hw_name[16];       /* 406 */
    char site_name[16];     /* 422 */
    int16_t imin_west;      /* 438: minutes of the recorded times west of UTC */
    uint32_t ilat;          /* 440: bin4 */
    uint32_t ilon;          /* 444: bin4 */
    int16_t iradar_hgt;     /* 448: m above ground */
    int16_t iground_hgt;    /* 450: m above sea level */
    int32_t iprf;           /* 452: Hz */
    int32_t ipulse_width;   /* 456: hundredths of a microsecond */
    int16_t idsp_type;      /* 460 */
    int16_t itrig_rate;     /* 462 */
    int16_t isamples;       /* 464 */
    char dsp_778[12];       /* 466 */
    int16_t dsp_790;        /* 478 */
    int32_t iwavelength;    /* 480: hundredths of a cm */
    int32_t imisc_1772;     /* 484 */
    int32_t irange_first;   /* 488: cm */
    int32_t irange_last;    /* 492: cm */
    int32_t ibins;          /* 496 */
    uint8_t res_500[2];     /* 500 */
    int16_t iflags;         /* 502 */
    int16_t ipolarization;  /* 504 */
    int16_t cal_992;        /* 506 */
    int16_t cal_996;        /* 508 */
    int16_t iradar_const;   /* 510: hundredths of a dB */
    int16_t cal_1004;       /* 512 */
    int16_t inoise_1;       /* 514: hundredths */
    int16_t inoise_0;       /* 516: hundredths */
    int16_t cal_984;        /* 518 */
    int16_t cal_986;        /* 520 */
    int16_t cal_980;        /* 522 */
    int16_t cal_1006;       /* 524 */
    uint8_t res_526[18];    /* 526 */
    uint32_t iproj_angle1;  /* 544: bin4 */
    uint32_t iproj_angle2;  /* 548: bin4 */
    int32_t iearth_radius;  /* 552: hundred-thousandths of a km */
    int32_t iellipse_param; /* 556: millionths */
    int32_t icf_228;        /* 560 */
    uint8_t res_564[4];     /* 564 */
    int16_t dsp_791;        /* 568 */
    int16_t dsp_796;        /* 570 */
    uint32_t iproj_lat;     /* 572: bin4 */
    uint32_t iproj_lon;     /* 576: bin4 */
    int16_t res_580;        /* 580 */
    uint8_t res_582[32];    /* 582 */
    int16_t iisotherm;      /* 614 */
    int16_t ialtitude;      /* 616: m above sea level */
    uint8_t res_618[6];     /* 618 */
    uint8_t tz_name[8];     /* 624 */
    uint32_t ixhdr_offset;  /* 632: offset of a product file's extended header; 0 in RAW */
    uint8_t res_636[4];     /* 636 */
} product_end;

/* Product header (640 bytes): record 0 of a RAW product file. */
typedef struct product_header {
    structure_header hdr;      /* 0 */
    product_configuration pcf; /* 12 */
    product_end pend;          /* 332 */
} product_header;

/* Ingest configuration (480 bytes at ingest header offset 12). */
typedef struct ingest_configuration {
    uint8_t res_12[82];   /* 12 */
    int16_t isweeps_done; /* 94: sweeps present, 0 = not given */
    uint8_t res_96[4];    /* 96 */
    ymds_time vol_time;   /* 100: start time of the volume */
    uint8_t res_112[18];  /* 112 */
    uint16_t i_130;       /* 130 */
    uint8_t res_132[4];   /* 132 */
    char version[8];      /* 136: software version, at most 7 characters used */
    char hw_name[16];     /* 144 */
    int16_t itz_offset;   /* 160 */
    char site_name[16];   /* 162 */
    int16_t imin_west;    /* 178: minutes of the recorded times west of UTC */
    uint32_t ilat;        /* 180: bin4 */
    uint32_t ilon;        /* 184: bin4 */
    int16_t iradar_hgt;   /* 188: m above ground */
    int16_t iground_hgt;  /* 190: m above sea level */
    int16_t irays_full;   /* 192: rays in a full circle */
    int16_t ifirst_ray;   /* 194 */
    int16_t irays;        /* 196: rays of the sector */
    uint8_t res_198[2];   /* 198 */
    int32_t ialt_cm;      /* 200 */
    uint8_t res_204[24];  /* 204 */
    int32_t i_228;        /* 228 */
    int16_t iisotherm;    /* 232 */
    uint8_t res_234[2];   /* 234 */
    uint8_t tz_name[8];   /* 236 */
    uint8_t res_244[248]; /* 244 */
} ingest_configuration;

/* Signal processor settings of a task (320 bytes at ingest header offset 624). */
typedef struct task_dsp_info {
    int16_t imajor_mode;     /* 624 */
    int16_t idsp_type;       /* 626 */
    dsp_data_mask mask;      /* 628: data types recorded in each sweep */
    dsp_data_mask mask_orig; /* 652 */
    uint8_t res_676[84];     /* 676 */
    int32_t iprf;            /* 760: Hz */
    int32_t ipulse_width;    /* 764: hundredths of a microsecond */
    int16_t itrig_rate;      /* 768: multi-PRF mode */
    uint8_t res_770[4];      /* 770 */
    int16_t isamples;        /* 774 */
    uint8_t res_776[2];      /* 776 */
    char b_778[12];          /* 778 */
    uint8_t b_790;           /* 790 */
    uint8_t b_791;           /* 791 */
    uint8_t res_792[2];      /* 792 */
    int16_t igas_atten;      /* 794: 16-bit gas attenuation code */
    int16_t i_796;           /* 796 */
    uint8_t res_798[146];    /* 798 */
} task_dsp_info;

/* Calibration of a task (320 bytes at ingest header offset 944). */
typedef struct task_calib_info {
    uint8_t res_944[2];    /* 944 */
    int16_t ilog_thresh;   /* 946: sixteenths of a dB */
    uint8_t res_948[2];    /* 948 */
    int16_t isqi_thresh;   /* 950: times 256 */
    uint8_t res_952[10];   /* 952 */
    int16_t ical_ref;      /* 962: sixteenths of a dB */
    uint8_t res_964[16];   /* 964 */
    int16_t i_980;         /* 980 */
    uint8_t res_982[2];    /* 982 */
    int16_t i_984;         /* 984 */
    int16_t i_986;         /* 986 */
    uint8_t res_988[4];    /* 988 */
    int16_t i_992;         /* 992 */
    uint8_t res_994[2];    /* 994 */
    int16_t i_996;         /* 996 */
    uint8_t res_998[2];    /* 998 */
    int16_t iradar_const;  /* 1000: hundredths of a dB */
    uint8_t res_1002[2];   /* 1002 */
    int16_t i_1004;        /* 1004 */
    int16_t i_1006;        /* 1006 */
    uint8_t res_1008[256]; /* 1008 */
} task_calib_info;

/* Range bins of a task (160 bytes at ingest header offset 1264). */
typedef struct task_range_info {
    int32_t irange_first;  /* 1264: cm */
    int32_t irange_last;   /* 1268: cm */
    int16_t ibins_in;      /* 1272 */
    int16_t ibins_out;     /* 1274 */
    int32_t istep_in;      /* 1276: cm */
    int32_t istep_out;     /* 1280: cm */
    uint8_t res_1284[140]; /* 1284 */
} task_range_info;

#define TASK_MAX_SWEEP_ANGLES 154

/* Scan strategy of a task (320 bytes at ingest header offset 1424). */
typedef struct task_scan_info {
    int16_t imode;                           /* 1424: SCAN_... */
    int16_t ires;                            /* 1426: thousandths of a degree */
    uint16_t ispeed;                         /* 1428: bin2 per second */
    int16_t isweeps;                         /* 1430 */
    uint16_t istart;                         /* 1432: bin2 sector start */
    uint8_t res_1434[2];                     /* 1434 */
    uint16_t iangles[TASK_MAX_SWEEP_ANGLES]; /* 1436: bin2 fixed angle per sweep */
} task_scan_info;

/* Further task settings (320 bytes at ingest header offset 1744). */
typedef struct task_misc_info {
    int32_t iwavelength;   /* 1744: hundredths of a cm */
    uint8_t res_1748[22];  /* 1748 */
    int16_t ipolarization; /* 1770 */
    int32_t i_1772;        /* 1772 */
    uint8_t res_1776[288]; /* 1776 */
} task_misc_info;

/* Task identification (1040 bytes at ingest header offset 2064, to the end of the task
 * configuration). */
typedef struct task_end_info {
    int16_t id_major;      /* 2064 */
    int16_t id_minor;      /* 2066: position within a hybrid task */
    char task_name[12];    /* 2068 */
    char task_info[80];    /* 2080 */
    int16_t ihybrid;       /* 2160: tasks of the hybrid task */
    uint8_t res_2162[942]; /* 2162 */
} task_end_info;

/* Task configuration (2612 bytes at ingest header offset 492). */
typedef struct task_configuration {
    structure_header hdr; /* 492 */
    uint8_t res_504[120]; /* 504 */
    task_dsp_info dsp;    /* 624 */
    task_calib_info cal;  /* 944 */
    task_range_info rng;  /* 1264 */
    task_scan_info scan;  /* 1424 */
    task_misc_info misc;  /* 1744 */
    task_end_info end;    /* 2064 */
} task_configuration;

/* Start of the processor status block. The block runs on past proc_status over the following
 * fields: the noise-power function reads words up to offset 104 of the block, so pass it
 * INGEST_PROC_STATUS(ih), a pointer into the whole header. */
#define INGEST_PROC_STATUS_OFFSET 3836
#define INGEST_PROC_STATUS(ih) ((const unsigned char *)(ih) + INGEST_PROC_STATUS_OFFSET)

typedef struct processor_status {
    uint8_t res_3836[60]; /* 3836 */
    uint16_t iflags;      /* 3896: PROC_STATUS_FULL_PHIDP */
    uint8_t res_3898[10]; /* 3898 */
} processor_status;

/* Ingest header (4884 bytes): one per task; record 1 of a RAW product file. */
typedef struct ingest_header {
    structure_header hdr;         /* 0 */
    ingest_configuration icf;     /* 12 */
    task_configuration tcf;       /* 492 */
    uint8_t res_3104[732];        /* 3104 */
    processor_status proc_status; /* 3836 */
    int16_t ical_ref2;            /* 3908: copy of tcf.cal.ical_ref */
    uint8_t res_3910[974];        /* 3910 */
} ingest_header;

/* Ingest data header (76 bytes): one per sweep and data type. */
typedef struct ingest_data_header {
    structure_header hdr;  /* 0: ibytes = 76 + 4 x irtotl + the bytes of the stored rays */
    ymds_time sweep_time;  /* 12 */
    int16_t isweep;        /* 24: 1-based sweep number */
    int16_t irays_full;    /* 26 */
    int16_t ifirst_ray;    /* 28 */
    int16_t irtotl;        /* 30: ray positions of the sweep */
    int16_t iwritten;      /* 32: rays stored with data */
    uint16_t ifixed_angle; /* 34: bin2 */
    int16_t ibits_bin;     /* 36: 8 or 16 */
    int16_t idata_type;    /* 38: ORVA data-type code */
    uint8_t res_40[36];    /* 40 */
} ingest_data_header;
typedef ingest_data_header IDhdr;

/* Header of an ingest ray (6 words); the bins follow, their count rounded up to even. */
typedef struct ingest_ray_header {
    uint16_t iaz_start; /* 0: bin2 */
    uint16_t iel_start; /* 2: bin2 */
    uint16_t iaz_end;   /* 4: bin2 */
    uint16_t iel_end;   /* 6: bin2 */
    int16_t ibins;      /* 8: 0 = no data */
    uint16_t itime;     /* 10: seconds after the sweep time */
} ingest_ray_header;

/* Header of a data record of a RAW product file (12 bytes). */
typedef struct raw_record_header {
    int16_t irecord;  /* 0: index of the record within the file */
    int16_t isweep;   /* 2: 1-based sweep number */
    uint8_t res_4[8]; /* 4 */
} raw_record_header;

/* Bytes an ingest ray of bins bins at bits_per_bin (8 or 16) occupies. */
static inline size_t ingest_ray_size(int bits_per_bin, int bins) {
    size_t even_bins = bins > 0 ? (size_t)bins + ((size_t)bins & 1u) : 0;
    return (size_t)(bits_per_bin / 8) * even_bins + RAY_HEADER_SIZE;
}

PVOL_END_DECLS

#ifdef __cplusplus
#define PVOL_RECORD_ASSERT(condition, text) static_assert(condition, text)
#else
#define PVOL_RECORD_ASSERT(condition, text) _Static_assert(condition, text)
#endif

#define PVOL_RECORD_AT(record, field, offset) \
    PVOL_RECORD_ASSERT(offsetof(record, field) == (offset), #record "." #field " at " #offset)

PVOL_RECORD_ASSERT(sizeof(ymds_time) == 12, "ymds_time is 12 bytes");
PVOL_RECORD_AT(ymds_time, seconds, 0);
PVOL_RECORD_AT(ymds_time, msecs_flags, 4);
PVOL_RECORD_AT(ymds_time, year, 6);
PVOL_RECORD_AT(ymds_time, month, 8);
PVOL_RECORD_AT(ymds_time, day, 10);

PVOL_RECORD_ASSERT(sizeof(dsp_data_mask) == 24, "data-type mask is 24 bytes");
PVOL_RECORD_AT(dsp_data_mask, mask_word_0, 0);
PVOL_RECORD_AT(dsp_data_mask, mask_xhdr, 4);
PVOL_RECORD_AT(dsp_data_mask, mask_word_1, 8);
PVOL_RECORD_AT(dsp_data_mask, mask_word_2, 12);
PVOL_RECORD_AT(dsp_data_mask, mask_word_3, 16);
PVOL_RECORD_AT(dsp_data_mask, mask_word_4, 20);

PVOL_RECORD_ASSERT(sizeof(structure_header) == 12, "structure header is 12 bytes");
PVOL_RECORD_AT(structure_header, id, 0);
PVOL_RECORD_AT(structure_header, iversion, 2);
PVOL_RECORD_AT(structure_header, ibytes, 4);
PVOL_RECORD_AT(structure_header, ireserved, 8);
PVOL_RECORD_AT(structure_header, iflags, 10);

PVOL_RECORD_ASSERT(sizeof(product_configuration) == PRODUCT_CONF_SIZE, "pcf is 320 bytes");
PVOL_RECORD_ASSERT(sizeof(product_end) == 308, "pend is 308 bytes");
PVOL_RECORD_ASSERT(sizeof(product_header) == PRODUCT_HDR_SIZE, "product header is 640 bytes");
PVOL_RECORD_AT(product_header, hdr, 0);
PVOL_RECORD_AT(product_header, pcf.hdr, 12);
PVOL_RECORD_AT(product_header, pcf.iptype, 24);
PVOL_RECORD_AT(product_header, pcf.isched, 26);
PVOL_RECORD_AT(product_header, pcf.iseconds, 28);
PVOL_RECORD_AT(product_header, pcf.gen_time, 32);
PVOL_RECORD_AT(product_header, pcf.sweep_time, 44);
PVOL_RECORD_AT(product_header, pcf.file_time, 56);
PVOL_RECORD_AT(product_header, pcf.prod_name, 74);
PVOL_RECORD_AT(product_header, pcf.task_name, 86);
PVOL_RECORD_AT(product_header, pcf.iflags, 98);
PVOL_RECORD_AT(product_header, pcf.ixscale, 100);
PVOL_RECORD_AT(product_header, pcf.iyscale, 104);
PVOL_RECORD_AT(product_header, pcf.ixsize, 112);
PVOL_RECORD_AT(product_header, pcf.iysize, 116);
PVOL_RECORD_AT(product_header, pcf.iradx, 124);
PVOL_RECORD_AT(product_header, pcf.irady, 128);
PVOL_RECORD_AT(product_header, pcf.b_144, 144);
PVOL_RECORD_AT(product_header, pcf.iproj_type, 158);
PVOL_RECORD_AT(product_header, pcf.mask0, 176);
PVOL_RECORD_AT(product_header, pcf.irange_last, 180);
PVOL_RECORD_AT(product_header, pcf.raw_flags, 188);
PVOL_RECORD_AT(product_header, pcf.mask1, 196);
PVOL_RECORD_AT(product_header, pcf.iing_130, 216);
PVOL_RECORD_AT(product_header, pend, 332);
PVOL_RECORD_AT(product_header, pend.prod_site, 332);
PVOL_RECORD_AT(product_header, pend.version, 348);
PVOL_RECORD_AT(product_header, pend.ing_version, 356);
PVOL_RECORD_AT(product_header, pend.ing_time, 364);
PVOL_RECORD_AT(product_header, pend.itz_offset, 404);
PVOL_RECORD_AT(product_header, pend.hw_name, 406);
PVOL_RECORD_AT(product_header, pend.site_name, 422);
PVOL_RECORD_AT(product_header, pend.imin_west, 438);
PVOL_RECORD_AT(product_header, pend.ilat, 440);
PVOL_RECORD_AT(product_header, pend.ilon, 444);
PVOL_RECORD_AT(product_header, pend.iradar_hgt, 448);
PVOL_RECORD_AT(product_header, pend.iground_hgt, 450);
PVOL_RECORD_AT(product_header, pend.iprf, 452);
PVOL_RECORD_AT(product_header, pend.ipulse_width, 456);
PVOL_RECORD_AT(product_header, pend.idsp_type, 460);
PVOL_RECORD_AT(product_header, pend.itrig_rate, 462);
PVOL_RECORD_AT(product_header, pend.isamples, 464);
PVOL_RECORD_AT(product_header, pend.dsp_778, 466);
PVOL_RECORD_AT(product_header, pend.dsp_790, 478);
PVOL_RECORD_AT(product_header, pend.iwavelength, 480);
PVOL_RECORD_AT(product_header, pend.imisc_1772, 484);
PVOL_RECORD_AT(product_header, pend.irange_first, 488);
PVOL_RECORD_AT(product_header, pend.irange_last, 492);
PVOL_RECORD_AT(product_header, pend.ibins, 496);
PVOL_RECORD_AT(product_header, pend.iflags, 502);
PVOL_RECORD_AT(product_header, pend.ipolarization, 504);
PVOL_RECORD_AT(product_header, pend.cal_992, 506);
PVOL_RECORD_AT(product_header, pend.cal_996, 508);
PVOL_RECORD_AT(product_header, pend.iradar_const, 510);
PVOL_RECORD_AT(product_header, pend.cal_1004, 512);
PVOL_RECORD_AT(product_header, pend.inoise_1, 514);
PVOL_RECORD_AT(product_header, pend.inoise_0, 516);
PVOL_RECORD_AT(product_header, pend.cal_984, 518);
PVOL_RECORD_AT(product_header, pend.cal_986, 520);
PVOL_RECORD_AT(product_header, pend.cal_980, 522);
PVOL_RECORD_AT(product_header, pend.cal_1006, 524);
PVOL_RECORD_AT(product_header, pend.iproj_angle1, 544);
PVOL_RECORD_AT(product_header, pend.iproj_angle2, 548);
PVOL_RECORD_AT(product_header, pend.iearth_radius, 552);
PVOL_RECORD_AT(product_header, pend.iellipse_param, 556);
PVOL_RECORD_AT(product_header, pend.icf_228, 560);
PVOL_RECORD_AT(product_header, pend.dsp_791, 568);
PVOL_RECORD_AT(product_header, pend.dsp_796, 570);
PVOL_RECORD_AT(product_header, pend.iproj_lat, 572);
PVOL_RECORD_AT(product_header, pend.iproj_lon, 576);
PVOL_RECORD_AT(product_header, pend.res_580, 580);
PVOL_RECORD_AT(product_header, pend.iisotherm, 614);
PVOL_RECORD_AT(product_header, pend.ialtitude, 616);
PVOL_RECORD_AT(product_header, pend.tz_name, 624);
PVOL_RECORD_AT(product_header, pend.ixhdr_offset, 632);

PVOL_RECORD_ASSERT(sizeof(ingest_configuration) == 480, "icf is 480 bytes");
PVOL_RECORD_ASSERT(sizeof(task_configuration) == TASK_CONF_SIZE, "tcf is 2612 bytes");
PVOL_RECORD_ASSERT(sizeof(ingest_header) == INGEST_HDR_SIZE, "ingest header is 4884 bytes");
PVOL_RECORD_AT(ingest_header, hdr, 0);
PVOL_RECORD_AT(ingest_header, icf, 12);
PVOL_RECORD_AT(ingest_header, icf.isweeps_done, 94);
PVOL_RECORD_AT(ingest_header, icf.vol_time, 100);
PVOL_RECORD_AT(ingest_header, icf.i_130, 130);
PVOL_RECORD_AT(ingest_header, icf.version, 136);
PVOL_RECORD_AT(ingest_header, icf.hw_name, 144);
PVOL_RECORD_AT(ingest_header, icf.itz_offset, 160);
PVOL_RECORD_AT(ingest_header, icf.site_name, 162);
PVOL_RECORD_AT(ingest_header, icf.imin_west, 178);
PVOL_RECORD_AT(ingest_header, icf.ilat, 180);
PVOL_RECORD_AT(ingest_header, icf.ilon, 184);
PVOL_RECORD_AT(ingest_header, icf.iradar_hgt, 188);
PVOL_RECORD_AT(ingest_header, icf.iground_hgt, 190);
PVOL_RECORD_AT(ingest_header, icf.irays_full, 192);
PVOL_RECORD_AT(ingest_header, icf.ifirst_ray, 194);
PVOL_RECORD_AT(ingest_header, icf.irays, 196);
PVOL_RECORD_AT(ingest_header, icf.ialt_cm, 200);
PVOL_RECORD_AT(ingest_header, icf.i_228, 228);
PVOL_RECORD_AT(ingest_header, icf.iisotherm, 232);
PVOL_RECORD_AT(ingest_header, icf.tz_name, 236);
PVOL_RECORD_AT(ingest_header, tcf, 492);
PVOL_RECORD_AT(ingest_header, tcf.hdr, 492);
PVOL_RECORD_AT(ingest_header, tcf.dsp.imajor_mode, 624);
PVOL_RECORD_AT(ingest_header, tcf.dsp.idsp_type, 626);
PVOL_RECORD_AT(ingest_header, tcf.dsp.mask, 628);
PVOL_RECORD_AT(ingest_header, tcf.dsp.mask_orig, 652);
PVOL_RECORD_AT(ingest_header, tcf.dsp.iprf, 760);
PVOL_RECORD_AT(ingest_header, tcf.dsp.ipulse_width, 764);
PVOL_RECORD_AT(ingest_header, tcf.dsp.itrig_rate, 768);
PVOL_RECORD_AT(ingest_header, tcf.dsp.isamples, 774);
PVOL_RECORD_AT(ingest_header, tcf.dsp.b_778, 778);
PVOL_RECORD_AT(ingest_header, tcf.dsp.b_790, 790);
PVOL_RECORD_AT(ingest_header, tcf.dsp.b_791, 791);
PVOL_RECORD_AT(ingest_header, tcf.dsp.igas_atten, 794);
PVOL_RECORD_AT(ingest_header, tcf.dsp.i_796, 796);
PVOL_RECORD_AT(ingest_header, tcf.cal.ilog_thresh, 946);
PVOL_RECORD_AT(ingest_header, tcf.cal.isqi_thresh, 950);
PVOL_RECORD_AT(ingest_header, tcf.cal.ical_ref, 962);
PVOL_RECORD_AT(ingest_header, tcf.cal.i_980, 980);
PVOL_RECORD_AT(ingest_header, tcf.cal.i_984, 984);
PVOL_RECORD_AT(ingest_header, tcf.cal.i_986, 986);
PVOL_RECORD_AT(ingest_header, tcf.cal.i_992, 992);
PVOL_RECORD_AT(ingest_header, tcf.cal.i_996, 996);
PVOL_RECORD_AT(ingest_header, tcf.cal.iradar_const, 1000);
PVOL_RECORD_AT(ingest_header, tcf.cal.i_1004, 1004);
PVOL_RECORD_AT(ingest_header, tcf.cal.i_1006, 1006);
PVOL_RECORD_AT(ingest_header, tcf.rng.irange_first, 1264);
PVOL_RECORD_AT(ingest_header, tcf.rng.irange_last, 1268);
PVOL_RECORD_AT(ingest_header, tcf.rng.ibins_in, 1272);
PVOL_RECORD_AT(ingest_header, tcf.rng.ibins_out, 1274);
PVOL_RECORD_AT(ingest_header, tcf.rng.istep_in, 1276);
PVOL_RECORD_AT(ingest_header, tcf.rng.istep_out, 1280);
PVOL_RECORD_AT(ingest_header, tcf.scan.imode, 1424);
PVOL_RECORD_AT(ingest_header, tcf.scan.ires, 1426);
PVOL_RECORD_AT(ingest_header, tcf.scan.ispeed, 1428);
PVOL_RECORD_AT(ingest_header, tcf.scan.isweeps, 1430);
PVOL_RECORD_AT(ingest_header, tcf.scan.istart, 1432);
PVOL_RECORD_AT(ingest_header, tcf.scan.iangles, 1436);
PVOL_RECORD_AT(ingest_header, tcf.misc.iwavelength, 1744);
PVOL_RECORD_AT(ingest_header, tcf.misc.ipolarization, 1770);
PVOL_RECORD_AT(ingest_header, tcf.misc.i_1772, 1772);
PVOL_RECORD_AT(ingest_header, tcf.end.id_major, 2064);
PVOL_RECORD_AT(ingest_header, tcf.end.id_minor, 2066);
PVOL_RECORD_AT(ingest_header, tcf.end.task_name, 2068);
PVOL_RECORD_AT(ingest_header, tcf.end.task_info, 2080);
PVOL_RECORD_AT(ingest_header, tcf.end.ihybrid, 2160);
PVOL_RECORD_AT(ingest_header, proc_status, INGEST_PROC_STATUS_OFFSET);
PVOL_RECORD_AT(ingest_header, proc_status.iflags, 3896);
PVOL_RECORD_AT(ingest_header, ical_ref2, 3908);

PVOL_RECORD_ASSERT(sizeof(ingest_data_header) == IDHDR_SIZE, "IDhdr is 76 bytes");
PVOL_RECORD_AT(ingest_data_header, hdr, 0);
PVOL_RECORD_AT(ingest_data_header, sweep_time, 12);
PVOL_RECORD_AT(ingest_data_header, isweep, 24);
PVOL_RECORD_AT(ingest_data_header, irays_full, 26);
PVOL_RECORD_AT(ingest_data_header, ifirst_ray, 28);
PVOL_RECORD_AT(ingest_data_header, irtotl, 30);
PVOL_RECORD_AT(ingest_data_header, iwritten, 32);
PVOL_RECORD_AT(ingest_data_header, ifixed_angle, 34);
PVOL_RECORD_AT(ingest_data_header, ibits_bin, 36);
PVOL_RECORD_AT(ingest_data_header, idata_type, 38);

PVOL_RECORD_ASSERT(sizeof(ingest_ray_header) == RAY_HEADER_SIZE, "ray header is 12 bytes");
PVOL_RECORD_AT(ingest_ray_header, ibins, 8);
PVOL_RECORD_AT(ingest_ray_header, itime, 10);
PVOL_RECORD_ASSERT(sizeof(raw_record_header) == 12, "record header is 12 bytes");

#endif /* PVOL_ORVA_RECORDS_H */
