#ifndef FACELUME_CLIENT_EXPORT_H
#define FACELUME_CLIENT_EXPORT_H

/* Marks the functions and classes that the facelume_client library exports. */
#if defined(_WIN32)
#if defined(FACELUME_CLIENT_BUILD)
#define FACELUME_CLIENT_API __declspec(dllexport)
#else
#define FACELUME_CLIENT_API __declspec(dllimport)
#endif
#else
#define FACELUME_CLIENT_API __attribute__((visibility("default")))
#endif

#endif
