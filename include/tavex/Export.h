// Symbol export for the Tavex shared library.
#ifndef TAVEX_EXPORT_H
#define TAVEX_EXPORT_H

#if defined(_WIN32) || defined(__CYGWIN__)
#  if defined(TAVEX_BUILDING_LIBRARY)
#    define TAVEX_API __declspec(dllexport)
#  elif defined(TAVEX_STATIC)
#    define TAVEX_API
#  else
#    define TAVEX_API __declspec(dllimport)
#  endif
#else
#  define TAVEX_API __attribute__((visibility("default")))
#endif

#endif
