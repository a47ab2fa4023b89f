/* Geodesy, map projections and product regions of ORVA products.
 *
 * Angles are in radians (latitude positive north, longitude positive east, azimuth clockwise
 * from north); distances on the earth and on maps are in kilometres. Polar positions and most
 * projections use a sphere of radius 6371.0 km; the transverse Mercator family and the Lambert
 * conic use the ellipsoid of the projection record (see mpj_get_geode_info).
 */
#ifndef PVOL_ORVA_UTILS_H
#define PVOL_ORVA_UTILS_H

#include <stdint.h>

#include "pvol_export.h"

PVOL_BEGIN_DECLS

/* Flag bit of earth_pos.flags: the position does not lie on the earth. */
#define EARTH_POS_OFF_EARTH 0x1

/* A geographic position (24 bytes). */
typedef struct earth_pos {
    double latitude;  /* -pi/2 .. pi/2 */
    double longitude; /* -pi .. pi once normalised */
    int flags;        /* EARTH_POS_OFF_EARTH or 0 */
} earth_pos;

/* A position relative to an origin. */
typedef struct polar_pos {
    double range;   /* km */
    double azimuth; /* 0 .. 2 pi, clockwise from north */
} polar_pos;

/* One spherical triangle of the unit sphere: gamma lies between sides a and b; a lies opposite
 * alpha, b opposite beta, c opposite gamma. TriangleSphereSas reads a, b, gamma. */
typedef struct sph_triangle {
    double alpha;
    double gamma;
    double beta;
    double a;
    double c;
    double b;
} sph_triangle;

/* Projection codes (map_proj.type). Codes without a case of their own project azimuthally. */
enum map_projection_code {
    AZIMUTHAL = 0,   /* azimuthal equidistant, sphere */
    MERCATOR = 1,    /* Mercator true at the reference latitude, sphere */
    POLSTEREO = 2,   /* north polar stereographic, sphere */
    UTM = 3,         /* transverse Mercator, scale 0.9996, ellipsoid */
    PERSPECTIVE = 4, /* vertical perspective from geostationary height, sphere */
    EDC = 5,         /* equidistant cylindrical, sphere */
    GNOMONIC = 6,    /* gnomonic, sphere */
    GAUSS = 7,       /* transverse Mercator, scale 1, ellipsoid */
    LAMBERT = 8      /* Lambert conformal conic with two standard parallels, ellipsoid */
};

/* A map projection. */
typedef struct map_proj {
    uint8_t type;              /* enum map_projection_code */
    earth_pos reference;       /* centre or origin; flags unused */
    double std_parallel1;      /* first standard parallel (Lambert) */
    double std_parallel2;      /* second standard parallel (Lambert) */
    double earth_radius;       /* equatorial radius, km; used only within 6300 .. 6400 */
    double inverse_flattening; /* used only within 200 .. 400, else a sphere */
} map_proj;

/* A rectangular region of a map, sampled in square pixels. Corner 0 has the smallest map x and
 * y, corner 2 the largest; the east and north points are the middles of the east and north
 * edges. Map coordinates are (x, y) in km east and north of the projection's reference. */
typedef struct map_region {
    earth_pos corner0;
    earth_pos centre;
    earth_pos corner2;
    earth_pos east_point;
    earth_pos north_point;
    double earth_north_km; /* along the earth from the centre to the north point */
    double earth_east_km;  /* along the earth from the centre to the east point */
    double map_north_km;   /* north point map y - centre map y */
    double map_east_km;    /* east point map x - centre map x */
    double corner0_map[2];
    double centre_map[2];
    double corner2_map[2];
    double east_map[2];
    double north_map[2];
    double pixels_x;
    double pixels_y;
} map_region;

/* Known-field bits of a region (the flags of the region functions). */
#define MPJ_CORNER0_EARTH 0x1u
#define MPJ_CENTRE_EARTH 0x2u
#define MPJ_CORNER2_EARTH 0x4u
#define MPJ_MAP_NORTH_DIST 0x10u
#define MPJ_MAP_EAST_DIST 0x20u
#define MPJ_EARTH_NORTH_DIST 0x40u
#define MPJ_EARTH_EAST_DIST 0x80u
#define MPJ_CORNER0_MAP 0x1000000u
#define MPJ_CENTRE_MAP 0x2000000u
#define MPJ_CORNER2_MAP 0x4000000u
#define MPJ_NORTH_MAP 0x8000000u
#define MPJ_EAST_MAP 0x10000000u
#define MPJ_NORTH_EARTH 0x40000000u
#define MPJ_EAST_EARTH 0x80000000u
#define MPJ_REGION_COMPLETE 0xdf0000f7u

/* Status codes of the projection and region functions. */
#define MPJ_OK 1
#define MPJ_BAD_ARGUMENTS 27
#define MPJ_BAD_PROJECTION 28
#define MPJ_BAD_REGION 29
#define MPJ_NO_ANCHOR 31
#define MPJ_INCOMPLETE 32
#define MPJ_ZERO_WIDTH 33
#define MPJ_ZERO_PIXELS 34

/* Directions of FillShiftedPosition and mpjSearchForMap (any other value is east). */
#define MPJ_EAST 0
#define MPJ_WEST 1
#define MPJ_NORTH 2
#define MPJ_SOUTH 3

/* --- Geodesy --- */

/* Row of the ellipsoid table ("sphere", "bessel", "GRS80", "intl", "WGS84"): copies its name
 * (7 bytes of room), stores its inverse flattening (0 for the sphere), returns its radius in km.
 * An index outside 0..4 selects the sphere. */
PVOL_API double fGetEllipseByIndex(char *name, double *inverse_flattening, int index);
/* Index of the row named exactly `name`, or -1. */
PVOL_API int iGetEllipseByName(const char *name);
/* One wrap into -pi .. pi. */
PVOL_API double fNormalizeAngle(double angle);
/* Solves the triangle from sides a, b and the included angle gamma. */
PVOL_API void TriangleSphereSas(sph_triangle *t);
/* The point at `polar` from `origin` (a negative range looks the opposite way). */
PVOL_API void EarthFromPolar(const earth_pos *origin, const polar_pos *polar, earth_pos *result);
/* Range and azimuth of `target` seen from `origin`. */
PVOL_API void PolarFromEarth(const earth_pos *origin, const earth_pos *target, polar_pos *result);
/* Meridian arc from the equator to `latitude` (unit of `a`) for squared eccentricity e2. */
PVOL_API double fTransverseMercatorM(double a, double e2, double latitude);
/* Constants n, F and rho0 of the Lambert conic of `proj` for semi-major axis a (m), eccentricity
 * e. */
PVOL_API void LambertSupport(const map_proj *proj, double *n, double *f, double *rho0, double a,
                             double e);
/* Earth figure of a projection: semi-axes a, b (m), eccentricity, inverse flattening. */
PVOL_API void mpj_get_geode_info(double *a, double *b, double *e, double *inverse_flattening,
                                 const map_proj *proj);

/* --- Map projections --- */

/* MPJ_OK for codes 0..8, else MPJ_BAD_PROJECTION. */
PVOL_API int mpj_validate_projection(const map_proj *proj);
/* Map coordinates (km) of `pos`. `visible` (may be null) is 1, or 0 for points on the far side
 * of the perspective and gnomonic views. */
PVOL_API int mpj_earth_to_map(const map_proj *proj, const earth_pos *pos, double xy[2],
                              unsigned char *visible);
/* Position of a map point; `pos` is cleared first. EARTH_POS_OFF_EARTH marks a map point that
 * does not lie on the earth. */
PVOL_API int mpj_map_to_earth(const map_proj *proj, const double xy[2], earth_pos *pos);
/* dst = src moved `distance` km in `direction`. */
PVOL_API void FillShiftedPosition(double dst[2], const double src[2], int direction,
                                  double distance);
/* The map point farthest from `start` in `direction` whose position lies at most `range` km
 * from `origin`. `result` is left untouched when no such point is found. */
PVOL_API void mpjSearchForMap(const map_proj *proj, const earth_pos *origin, const double start[2],
                              double result[2], int direction, double range);

/* --- Product regions --- */

/* Checks the positions and distances that the low bits of `flags` mark known. */
PVOL_API int mpj_validate_arguments(const map_region *r, int flags);
/* Checks a completed region against its projection. */
PVOL_API int mpj_validate_region(const map_proj *proj, const map_region *r);
/* Completes the region from the fields that `flags` mark known. */
PVOL_API int mpj_pin_region_int(const map_proj *proj, map_region *r, int flags);
/* Completes the region from its earth-side facts only (flags & 0xf7). */
PVOL_API int mpj_pin_region_x(const map_proj *proj, map_region *r, int flags);
/* As mpj_pin_region_x, keeping the caller's pixel counts. */
PVOL_API int mpj_pin_region_xy(const map_proj *proj, map_region *r, int flags);
/* Moves a corner so that map height / width equals `ratio`, then completes the region again. */
PVOL_API int mpj_rescale_region(const map_proj *proj, map_region *r, int flags, double ratio);
PVOL_API void mpj_set_earth_de(map_region *r, double km);
PVOL_API void mpj_set_earth_dn(map_region *r, double km);
/* Earth km per pixel along x and y, 0 without pixels. */
PVOL_API double mpj_get_earth_scale_e(const map_region *r);
PVOL_API double mpj_get_earth_scale_n(const map_region *r);
/* Pixels are square and counted from corner 0, y growing northwards. */
PVOL_API int mpj_pixel_to_earth(const map_proj *proj, const map_region *r, const double pixel[2],
                                earth_pos *pos);
PVOL_API int mpj_earth_to_pixel(const map_proj *proj, const map_region *r, const earth_pos *pos,
                                double pixel[2], char *visible);

/* --- Product types and product headers ---
 * `product_header` arguments address a 640-byte product header, `pcf` arguments its product
 * configuration (header offset 12), and `params` the product-specific area at header offset 176.
 * None needs to be aligned. */

/* False for the product types without a pixel size (9, 22, 35). */
PVOL_API short lProductHasPixSize(int product_type);
/* Geometry class of a product type. */
PVOL_API int iProductGeometry(int product_type);
/* True for product types on a map grid (geometry classes 1, 3, 5). */
PVOL_API int lProductIsGeoRef(int product_type);
/* Range of a product from the centre to its east edge, km (scales in cm). */
PVOL_API double fMaxRangeFromArgs(int product_type, int xsize, int xscale, int ysize, int yscale,
                                  const void *params);
PVOL_API double fMaxRangeFromPCF(const void *pcf);
/* Range of a product from the centre to its north edge, km. */
PVOL_API double fMaxNorthFromPCF(const void *pcf);
/* Projection and region of a product. `pixels` (x, y) overrides the header's pixel counts; may be
 * null. */
PVOL_API int phdr_pin_region(map_proj *proj, map_region *r, const void *product_header,
                             const int *pixels);
/* Position of the radar of a product. */
PVOL_API int RadPosFromPheader(const void *product_header, earth_pos *radar);
/* Writes the projection, region centre and pixel scales into a product header. */
PVOL_API void phdr_from_proj_region(void *product_header, const map_proj *proj,
                                    const map_region *r);
/* Writes the radar position (may be null) into a product header: as latitude and longitude for
 * products off the map grid, else as pixel position, the image centre when it is unknown or
 * hidden. */
PVOL_API int phdr_from_radpos(void *product_header, int product_type, const map_proj *proj,
                              const map_region *r, const earth_pos *radar);

PVOL_END_DECLS

#endif /* PVOL_ORVA_UTILS_H */
