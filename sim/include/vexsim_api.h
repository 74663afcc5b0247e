/* Export marker shared by the device library headers.
 *
 * A library that implements these entry points must export them under their plain C
 * names. With GCC and Clang the marker gives the declarations default visibility, so a
 * library built with -fvisibility=hidden still exports exactly the declared functions. */
#ifndef VEXSIM_API_H
#define VEXSIM_API_H

#if defined(__GNUC__) || defined(__clang__)
#define VEXSIM_API __attribute__((visibility("default")))
#else
#define VEXSIM_API
#endif

#endif /* VEXSIM_API_H */
