/* Symbol export and C linkage for the public interface of libpvol. */
#ifndef PVOL_EXPORT_H
#define PVOL_EXPORT_H

#if defined(PVOL_BUILDING)
#define PVOL_API __attribute__((visibility("default")))
#else
#define PVOL_API
#endif

#ifdef __cplusplus
#define PVOL_BEGIN_DECLS extern "C" {
#define PVOL_END_DECLS }
#else
#define PVOL_BEGIN_DECLS
#define PVOL_END_DECLS
#endif

#endif /* PVOL_EXPORT_H */
