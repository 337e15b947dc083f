/* The exports of npKexoPlugin.so, the demo crypto plugin, as C declarations.
 *
 * Every export uses the C calling convention and plain 32-bit integers, so a host may
 * bind them by name with dlsym and call them through these pointer types.
 * A status is negative on failure, zero or positive on success. */
#ifndef KEXO_NP_PLUGIN_H
#define KEXO_NP_PLUGIN_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define KEXO_PLUGIN_EXPORT __attribute__((visibility("default")))

/* Modes of WS_ExecuteEx. */
#define WS_MODE_QUERY_SIZE 1
#define WS_MODE_FETCH 2

/* Negative statuses of WS_ExecuteEx and WS_Execute. */
#define WS_ERR_ARGUMENTS (-1)  /* null pointer, size below 1, unknown mode */
#define WS_ERR_INTERNAL (-2)   /* out of memory or a reply over 2 GiB */
#define WS_ERR_NO_REPLY (-3)   /* fetch without a size query for this command on this thread */
#define WS_ERR_BUFFER (-4)     /* fetch buffer smaller than the prepared reply */

/* Self-test of the crypto library; 0 when it passed, WS_ERR_INTERNAL otherwise. */
KEXO_PLUGIN_EXPORT int32_t WS_Initialize(void);

/* One-shot form: runs Command (CommandSize bytes counting its terminating zero) and copies
 * as much of the reply as fits into Reply (ReplySize bytes, no terminating zero added).
 * Returns the full reply length, which may exceed ReplySize; negative on failure. */
KEXO_PLUGIN_EXPORT int32_t WS_Execute(const char* Command, int32_t CommandSize, char* Reply,
                                      int32_t ReplySize);

/* Two-step form. Mode WS_MODE_QUERY_SIZE runs the command, keeps the reply for the calling
 * thread and stores its length in *ReplySize (Reply may be null). Mode WS_MODE_FETCH with
 * the same command on the same thread copies that reply into Reply, which holds *ReplySize
 * bytes; the reply carries no terminating zero. */
KEXO_PLUGIN_EXPORT int32_t WS_ExecuteEx(const char* Command, int32_t CommandSize, char* Reply,
                                        int32_t* ReplySize, int32_t Mode);

/* Drops this thread's kept reply; always 0. */
KEXO_PLUGIN_EXPORT int32_t WS_Shutdown(void);

typedef int32_t (*TWS_Initialize)(void);
typedef int32_t (*TWS_Execute)(const char*, int32_t, char*, int32_t);
typedef int32_t (*TWS_ExecuteEx)(const char*, int32_t, char*, int32_t*, int32_t);
typedef int32_t (*TWS_Shutdown)(void);

#ifdef __cplusplus
}
#endif

#endif
