#include "device/eeprom/default_table.h"

const char* const kDefaultTable[] = {
    "stdin=serial",
    "stdout=serial",
    "stderr=serial",
    "baudrate=115200",
    "bootlocal=run rootfsarg; run setipaddr; nboot 0x80700000 0 $kernel_offset; bootm;",
    "nandflashsize=128",
    "setipaddr=run setipstatic",
    "setipstatic=set bootargs $bootargs ip=$ipaddr:$serverip:$gateway:$netmask:::off $ubootvars",
    "setipdynamic=set bootargs $bootargs ip=::::::on $ubootvars",
    "ubootvars=eeprom",
    "updaterootfs=tftpboot 0x85000000 $fsimage; nand erase $fsimage_offset $fsimage_size; nand write "
    "0x$fileaddr $fsimage_offset $fsimage_size;",
    "updatekernel=tftpboot 0x80700000  $bootfile; nand erase $kernel_offset $kernel_size; nand write "
    "0x$fileaddr $kernel_offset $kernel_size;",
    "bootnfs=setenv bootargs mem=120M console=ttyS0,115200n8 root=/dev/nfs rw noinitrd "
    "nfsroot=$nfsserver:$nfsdir,nolock; run setipaddr; tftp 0x80700000 $bootfile; bootm 0x80700000;",
    "bootnfsA=setenv bootargs mem=120M console=ttyS0,115200n8 root=/dev/nfs rw noinitrd "
    "nfsroot=$nfsserver:$nfsdir,nolock; run setipaddr; nfs 0x80700000 $nfsserver:$nfsdir/boot/$bootfile; "
    "bootm 0x80700000;",
    "bootjffs2=setenv bootargs mem=120M console=ttyS0,115200n8 root=/dev/mtdblock3 rw noinitrd "
    "rootfstype=jffs2 eth=$ethaddr ip=$ipaddr init=/sbin/init;nboot 0x80700000 0 0x60000;bootm",
    "bootmmc=setenv bootargs mem=120M console=ttyS0,115200n8 root=$mmcroot rootfstype=$mmcrootfstype "
    "noinitrd eth=$ethaddr init=/sbin/init;run setipaddr;nboot 0x80700000 0 $kernel_offset;bootm",
    "mmcroot=/dev/mmcblk0p1 rw",
    "rootfsarg=set bootargs $bootargs rootfstype=$fstype ro noinitrd",
    "fstype=jffs2",
    "bootdelay=5",
    "dmpno=0",
    "kernel_offset=0x00100000",
    "fsimage=ramdisk.iso",
    "otpd=0",
    "productversion=1.1",
    "productbuild=2.0",
    "productnumber=QPX-2071-2",
    "serialno=QV4N150101XXX",
    "ethaddr=02:1b:4d:00:00:00",
    "hosteth=00:00:00:00:00:00",
    "netmask=255.255.255.0",
    "hostip=10.0.1.1",
    "nfsserver=10.0.1.1",
    "serverip=10.0.1.1",
    "ntpserver=pool.ntp.org",
    "mmcrootfstype=ext2 rootwait",
    "bootcmd=run bootmmc",
};

const unsigned int kDefaultTableCount = sizeof(kDefaultTable) / sizeof(kDefaultTable[0]);
