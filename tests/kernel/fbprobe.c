/* SPDX-License-Identifier: MIT */
/*
 * fbprobe: the test VM's own window on a framebuffer device.
 *
 * fbvm runs it inside the VM, before and after the program under test, to
 * record what the kernel reports; it never shares code with that program, so
 * a fault there cannot hide itself here.
 *
 *   fbprobe var  DEVICE          FBIOGET_VSCREENINFO as key=value lines
 *   fbprobe fix  DEVICE          FBIOGET_FSCREENINFO as key=value lines
 *   fbprobe fill DEVICE BYTE     write BYTE over all smem_len bytes
 *   fbprobe bpp  DEVICE DEPTH    FBIOPUT_VSCREENINFO with a new depth only
 *
 * Numbers are decimal, except the two physical addresses (smem_start,
 * mmio_start), which are 0x-prefixed hexadecimal. Exit status 0 on
 * success, 1 when a call failed (with a message on stderr), 2 on usage.
 */
#include <errno.h>
#include <fcntl.h>
#include <linux/fb.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>

static int fail(const char *what, const char *dev)
{
    fprintf(stderr, "fbprobe: %s %s: %s\n", what, dev, strerror(errno));
    return 1;
}

static void bitfield(const char *name, const struct fb_bitfield *b)
{
    printf("%s.offset=%u\n%s.length=%u\n%s.msb_right=%u\n", name, b->offset, name, b->length, name,
           b->msb_right);
}

static void print_var(const struct fb_var_screeninfo *v)
{
    printf("xres=%u\nyres=%u\n", v->xres, v->yres);
    printf("xres_virtual=%u\nyres_virtual=%u\n", v->xres_virtual, v->yres_virtual);
    printf("xoffset=%u\nyoffset=%u\n", v->xoffset, v->yoffset);
    printf("bits_per_pixel=%u\ngrayscale=%u\n", v->bits_per_pixel, v->grayscale);
    bitfield("red", &v->red);
    bitfield("green", &v->green);
    bitfield("blue", &v->blue);
    bitfield("transp", &v->transp);
    printf("nonstd=%u\nactivate=%u\n", v->nonstd, v->activate);
    printf("height=%u\nwidth=%u\naccel_flags=%u\n", v->height, v->width, v->accel_flags);
    printf("pixclock=%u\n", v->pixclock);
    printf("left_margin=%u\nright_margin=%u\n", v->left_margin, v->right_margin);
    printf("upper_margin=%u\nlower_margin=%u\n", v->upper_margin, v->lower_margin);
    printf("hsync_len=%u\nvsync_len=%u\n", v->hsync_len, v->vsync_len);
    printf("sync=%u\nvmode=%u\nrotate=%u\ncolorspace=%u\n", v->sync, v->vmode, v->rotate,
           v->colorspace);
}

static void print_fix(const struct fb_fix_screeninfo *f)
{
    char id[sizeof f->id + 1];
    memcpy(id, f->id, sizeof f->id);
    id[sizeof f->id] = '\0';
    printf("id=%s\n", id);
    printf("smem_start=0x%lx\nsmem_len=%u\n", f->smem_start, f->smem_len);
    printf("type=%u\ntype_aux=%u\nvisual=%u\n", f->type, f->type_aux, f->visual);
    printf("xpanstep=%u\nypanstep=%u\nywrapstep=%u\n", f->xpanstep, f->ypanstep, f->ywrapstep);
    printf("line_length=%u\n", f->line_length);
    printf("mmio_start=0x%lx\nmmio_len=%u\n", f->mmio_start, f->mmio_len);
    printf("accel=%u\ncapabilities=%u\n", f->accel, (unsigned)f->capabilities);
}

/* Writes through the driver's write() path rather than a mapping, so the
 * fill does not depend on the mmap support that is under test. */
static int fill(int fd, const char *dev, unsigned value)
{
    struct fb_fix_screeninfo fix;
    if (ioctl(fd, FBIOGET_FSCREENINFO, &fix) != 0)
        return fail("FBIOGET_FSCREENINFO", dev);
    static unsigned char chunk[65536];
    memset(chunk, (int)value, sizeof chunk);
    size_t left = fix.smem_len;
    while (left > 0) {
        size_t n = left < sizeof chunk ? left : sizeof chunk;
        ssize_t w = write(fd, chunk, n);
        if (w < 0)
            return fail("write", dev);
        if (w == 0) {
            fprintf(stderr, "fbprobe: write %s: device full with %zu bytes left\n", dev, left);
            return 1;
        }
        left -= (size_t)w;
    }
    return 0;
}

static int parse_uint(const char *s, unsigned max, unsigned *out)
{
    char *end;
    errno = 0;
    unsigned long v = strtoul(s, &end, 0);
    if (errno != 0 || end == s || *end != '\0' || v > max)
        return 0;
    *out = (unsigned)v;
    return 1;
}

int main(int argc, char **argv)
{
    if (argc < 3) {
        fputs("usage: fbprobe var|fix|fill|bpp DEVICE [VALUE]\n", stderr);
        return 2;
    }
    const char *cmd = argv[1];
    const char *dev = argv[2];
    int needs_value = strcmp(cmd, "fill") == 0 || strcmp(cmd, "bpp") == 0;
    unsigned value = 0;
    if (needs_value &&
        (argc < 4 || !parse_uint(argv[3], strcmp(cmd, "fill") == 0 ? 255 : 0xffffffffu, &value))) {
        fprintf(stderr, "fbprobe: %s needs a value\n", cmd);
        return 2;
    }

    int fd = open(dev, O_RDWR);
    if (fd < 0)
        return fail("open", dev);

    int rc = 0;
    if (strcmp(cmd, "var") == 0) {
        struct fb_var_screeninfo var;
        if (ioctl(fd, FBIOGET_VSCREENINFO, &var) != 0)
            rc = fail("FBIOGET_VSCREENINFO", dev);
        else
            print_var(&var);
    } else if (strcmp(cmd, "fix") == 0) {
        struct fb_fix_screeninfo fix;
        if (ioctl(fd, FBIOGET_FSCREENINFO, &fix) != 0)
            rc = fail("FBIOGET_FSCREENINFO", dev);
        else
            print_fix(&fix);
    } else if (strcmp(cmd, "fill") == 0) {
        rc = fill(fd, dev, value);
    } else if (strcmp(cmd, "bpp") == 0) {
        struct fb_var_screeninfo var;
        if (ioctl(fd, FBIOGET_VSCREENINFO, &var) != 0) {
            rc = fail("FBIOGET_VSCREENINFO", dev);
        } else {
            var.bits_per_pixel = value;
            if (ioctl(fd, FBIOPUT_VSCREENINFO, &var) != 0)
                rc = fail("FBIOPUT_VSCREENINFO", dev);
        }
    } else {
        fprintf(stderr, "fbprobe: unknown command %s\n", cmd);
        rc = 2;
    }
    if (fflush(stdout) != 0)
        rc = 1;
    close(fd);
    return rc;
}
