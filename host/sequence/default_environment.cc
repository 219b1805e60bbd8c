#include "host/sequence/default_environment.h"

void FillDefaultEnvironment(CommandList& commands) {
  // Typed unchanged at the U-Boot prompt: quotes and $-references are U-Boot's to read.
  // try_boot_kernel leaves ${nand_kern_offs} unquoted, as make_nand_kernel_clones does, so that
  // its loop tries the ten kernel copies one by one instead of all ten offsets as one word.
  static const char* const kDefaults[kDefaultCommandCount] = {
      "setenv ipaddr 192.168.102.30",
      "setenv netmask 255.255.255.0",
      "setenv gateway 192.168.102.60",
      "setenv serverip 192.168.102.134",
      "setenv hostip 192.168.102.134",
      "setenv nfsserver 192.168.102.93",
      "setenv nfsdir /davinci",
      "setenv fsimage ramdisk.iso",
      "setenv fsimage_offset 0x00500000",
      "setenv fsimage_size 0x2D00000",
      "setenv fstype auto",
      "setenv kernel_size 0x400000",
      "setenv kernel_offset 0x00200000",
      "setenv nand_kern_offs '0x00200000 0x3200000 0x3600000 0x4000000 0x4400000 0x4800000 "
      "0x5200000 0x5600000 0x6000000 0x6400000'",
      "setenv mmcroot '/dev/mmcblk0p1 rw'",
      "setenv mmcrootfstype 'ext3 rootwait rootdelay=4 nohz=off'",
      "setenv bootcmd 'run bootmmc2'",
      "setenv safeboot 'setenv mmcroot /dev/mmcblk0p2 ro; run bootmmc'",
      "setenv bootnfs 'setenv bootargs mem=120M console=ttyS0,115200n8 root=/dev/nfs rw noinitrd "
      "nfsroot=$nfsserver:$nfsdir,nolock; run setipaddr; bootm 0x80700000;'",
      "setenv bootmmc 'setenv bootargs mem=120M console=ttyS0,115200n8 root=$mmcroot "
      "rootfstype=$mmcrootfstype noinitrd eth=$ethaddr init=/sbin/init;run setipaddr; run "
      "try_boot_kernel'",
      "setenv bootmmc2 'setenv bootargs mem=120M console=ttyS0,115200n8 root=$mmcroot "
      "rootfstype=$mmcrootfstype noinitrd eth=$ethaddr init=/sbin/init;run setipaddr; run "
      "try_boot_mmc'",
      "setenv setipstatic 'set bootargs $bootargs ip=$ipaddr:$serverip:$gateway:$netmask:::off'",
      "setenv setipaddr 'run setipstatic'",
      "setenv updatekernel 'tftpboot 0x80700000 $bootfile; run make_nand_kernel_clones;'",
      "setenv updaterootfs 'tftpboot 0x85000000 $fsimage; nand erase $fsimage_offset "
      "$fsimage_size; nand write 0x$fileaddr $fsimage_offset $fsimage_size;'",
      "setenv make_nand_kernel_clones 'for clone_offs in ${nand_kern_offs}; do echo \"Make kernel "
      "clone on nand offset = ${clone_offs}\"; nand erase ${clone_offs} ${kernel_size}; nand "
      "write 0x80700000 ${clone_offs} ${kernel_size}; done;'",
      "setenv try_boot_kernel 'for clone_offs in ${nand_kern_offs}; do echo \"Trying offset "
      "${clone_offs}\"; nand read 0x80700000 ${clone_offs} ${kernel_size}; if iminfo 0x80700000; "
      "then bootm 0x80700000; fi; done;'",
      "setenv try_boot_mmc 'mmc rescan; ext2load mmc 0:1 0x80700000 /boot/uImage; bootm "
      "0x80700000; echo \"Try boot from NAND\"; run try_boot_kernel;'",
  };
  commands.insert(commands.end(), kDefaults, kDefaults + kDefaultCommandCount);
}
