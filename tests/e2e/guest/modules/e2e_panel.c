// SPDX-License-Identifier: GPL-2.0-or-later
/*
 * The emulated box's front-panel display: /dev/dbox/oled0 (misc minor 59,
 * the number obinit gives the node), a 128 x 64 panel at 4 bits a pixel.
 *
 * Like the box's display driver it takes one whole frame per write: 64 rows
 * of 64 bytes, two pixels a byte, the left one in the high nibble. Anything
 * else is refused (EINVAL) and counted. It keeps the last frames for the
 * harness, which reads them back from the device:
 *
 *     "e2e-panel frames W kept K refused R\n", then K frames, oldest first
 *
 * (W frames taken since the module was loaded, R writes refused).
 */
#include <linux/fs.h>
#include <linux/miscdevice.h>
#include <linux/module.h>
#include <linux/mutex.h>
#include <linux/slab.h>
#include <linux/uaccess.h>
#include <linux/vmalloc.h>

#define FRAME_BYTES 4096
#define KEPT_FRAMES 16
#define PANEL_MINOR 59

static DEFINE_MUTEX(panel_lock);
static u8 frames[KEPT_FRAMES][FRAME_BYTES];
static unsigned int frames_taken;
static unsigned int writes_refused;

struct snapshot {
	size_t size;
	u8 bytes[];
};

static ssize_t panel_write(struct file *file, const char __user *data, size_t count, loff_t *pos)
{
	u8 *frame;

	if (count != FRAME_BYTES) {
		mutex_lock(&panel_lock);
		writes_refused++;
		mutex_unlock(&panel_lock);
		return -EINVAL;
	}
	mutex_lock(&panel_lock);
	frame = frames[frames_taken % KEPT_FRAMES];
	if (copy_from_user(frame, data, FRAME_BYTES)) {
		mutex_unlock(&panel_lock);
		return -EFAULT;
	}
	frames_taken++;
	mutex_unlock(&panel_lock);
	return count;
}

/* What a reader sees is fixed at its first read, so a frame written while
 * it reads cannot tear what it gets. */
static struct snapshot *take_snapshot(void)
{
	struct snapshot *s;
	unsigned int kept, first, i;
	char head[80];
	int head_len;

	mutex_lock(&panel_lock);
	kept = min_t(unsigned int, frames_taken, KEPT_FRAMES);
	first = frames_taken - kept;
	head_len = scnprintf(head, sizeof head, "e2e-panel frames %u kept %u refused %u\n",
			     frames_taken, kept, writes_refused);
	s = kvmalloc(sizeof *s + head_len + (size_t)kept * FRAME_BYTES, GFP_KERNEL);
	if (s) {
		memcpy(s->bytes, head, head_len);
		for (i = 0; i < kept; i++)
			memcpy(s->bytes + head_len + (size_t)i * FRAME_BYTES,
			       frames[(first + i) % KEPT_FRAMES], FRAME_BYTES);
		s->size = head_len + (size_t)kept * FRAME_BYTES;
	}
	mutex_unlock(&panel_lock);
	return s;
}

/* The misc core leaves its own record in private_data; a reader's snapshot
 * goes there instead, made at its first read. */
static int panel_open(struct inode *inode, struct file *file)
{
	file->private_data = NULL;
	return 0;
}

static ssize_t panel_read(struct file *file, char __user *data, size_t count, loff_t *pos)
{
	struct snapshot *s = file->private_data;

	if (!s) {
		s = take_snapshot();
		if (!s)
			return -ENOMEM;
		file->private_data = s;
	}
	return simple_read_from_buffer(data, count, pos, s->bytes, s->size);
}

static int panel_release(struct inode *inode, struct file *file)
{
	kvfree(file->private_data);
	return 0;
}

static const struct file_operations panel_fops = {
	.owner = THIS_MODULE,
	.open = panel_open,
	.write = panel_write,
	.read = panel_read,
	.release = panel_release,
	.llseek = no_llseek,
};

static struct miscdevice panel_device = {
	.minor = PANEL_MINOR,
	.name = "oled0",
	.nodename = "dbox/oled0",
	.mode = 0660,
	.fops = &panel_fops,
};

static int __init panel_init(void)
{
	return misc_register(&panel_device);
}

static void __exit panel_exit(void)
{
	misc_deregister(&panel_device);
}

module_init(panel_init);
module_exit(panel_exit);
MODULE_LICENSE("GPL");
MODULE_DESCRIPTION("The emulated box's front-panel display: keeps the frames it is sent");
