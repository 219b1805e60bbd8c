// Steps 7 and 8: watch the first boot and log in; install the kernel module package.
#pragma once

int WatchSystemBoot(const char* portName);
int UpdateKernelPackages(const char* portName);
