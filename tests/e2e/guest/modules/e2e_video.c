// SPDX-License-Identifier: GPL-2.0-or-later
/*
 * The emulated box's video decoder: /dev/dvb/adapter0/video0 (DVB major 212,
 * sysfs dvb0.video0, as the box's driver publishes it).
 *
 * It answers the DVB video requests a box's decoder answers, by the numbers
 * of the kernel's own <linux/dvb/video.h>: a request number made for another
 * architecture's encoding is unknown here (ENOTTY), as on the box. Requests
 * out of order are refused as a decoder refuses them (EPERM):
 *
 *   - stream type and source change only while the decoder is stopped;
 *   - VIDEO_CONTINUE resumes only a decoder that plays or is frozen;
 *   - data is taken only from memory input (VIDEO_SOURCE_MEMORY) while the
 *     decoder plays.
 *
 * One writer at a time (a second one gets EBUSY). With playing=1 the
 * decoder starts out playing from the demultiplexer, as when the box's
 * system already shows a service.
 *
 * Every request, write, close and exit of a writer is recorded, and every
 * byte taken; the harness reads them back from the device (a read waits up
 * to 5 s for the last writer to let go):
 *
 *     "e2e-video\n", one line per event, "stream N\n", then the N bytes
 *
 * Events: "open pid P", "SELECT_SOURCE 1 ok", "PLAY refused EPERM",
 * "request 0x00006f24 refused ENOTTY", "write 9 ok", "close pid P",
 * "exit pid P status S" (the writer ended with the device open).
 */
#include <linux/cdev.h>
#include <linux/device.h>
#include <linux/dvb/video.h>
#include <linux/fs.h>
#include <linux/module.h>
#include <linux/mutex.h>
#include <linux/sched.h>
#include <linux/slab.h>
#include <linux/uaccess.h>
#include <linux/vmalloc.h>
#include <linux/wait.h>

#define DVB_MAJOR_NUMBER 212
/* After a dm900's six tuner sets (minors 0 to 23), where its driver puts the
 * decoders; no node that obinit makes for the emulated models has it. */
#define VIDEO_MINOR 24
#define MAX_EVENTS 256
#define MAX_STREAM (8 << 20)
#define READER_WAIT (5 * HZ)

static bool playing;
module_param(playing, bool, 0444);
MODULE_PARM_DESC(playing, "start out playing from the demultiplexer");

enum event_kind { EV_OPEN, EV_REQUEST, EV_UNKNOWN, EV_WRITE, EV_CLOSE, EV_EXIT, EV_KILLED };

struct event {
	enum event_kind kind;
	unsigned int request;
	unsigned long value; /* argument, byte count, pid */
	int result;	     /* 0 or the error; for an exit, its status or signal */
};

enum play_state { STOPPED, PLAYING, FROZEN };

static DEFINE_MUTEX(video_lock);
static DECLARE_WAIT_QUEUE_HEAD(writers_gone);
static enum play_state state;
static unsigned long source = VIDEO_SOURCE_DEMUX;
static unsigned int writers;
static struct event events[MAX_EVENTS];
static unsigned int event_count, events_lost;
static u8 *stream;
static size_t stream_size, stream_lost;

static dev_t video_dev;
static struct cdev video_cdev;
static struct class *dvb_class;
static struct device *video_device;

static void record(enum event_kind kind, unsigned int request, unsigned long value, int result)
{
	if (event_count == MAX_EVENTS) {
		events_lost++;
		return;
	}
	events[event_count++] = (struct event){kind, request, value, result};
}

struct request_name {
	unsigned int request;
	const char *name;
	bool with_argument;
};

static const struct request_name request_names[] = {
	{VIDEO_STOP, "STOP", true},
	{VIDEO_PLAY, "PLAY", false},
	{VIDEO_FREEZE, "FREEZE", false},
	{VIDEO_CONTINUE, "CONTINUE", false},
	{VIDEO_SELECT_SOURCE, "SELECT_SOURCE", true},
	{VIDEO_SET_BLANK, "SET_BLANK", true},
	{VIDEO_GET_STATUS, "GET_STATUS", false},
	{VIDEO_CLEAR_BUFFER, "CLEAR_BUFFER", false},
	{VIDEO_SET_STREAMTYPE, "SET_STREAMTYPE", true},
};

static const struct request_name *known(unsigned int request)
{
	size_t i;

	for (i = 0; i < ARRAY_SIZE(request_names); i++)
		if (request_names[i].request == request)
			return &request_names[i];
	return NULL;
}

static int video_open(struct inode *inode, struct file *file)
{
	if (!(file->f_mode & FMODE_WRITE))
		return 0;
	mutex_lock(&video_lock);
	if (writers) {
		mutex_unlock(&video_lock);
		return -EBUSY;
	}
	writers++;
	record(EV_OPEN, 0, task_pid_nr(current), 0);
	mutex_unlock(&video_lock);
	return 0;
}

/* Called for every close of a descriptor, also by a process that exits with
 * the device open: the decoder then sees its writer's exit status. */
static int video_flush(struct file *file, fl_owner_t id)
{
	int code = current->exit_code;

	if (!(file->f_mode & FMODE_WRITE))
		return 0;
	mutex_lock(&video_lock);
	if (!(current->flags & PF_EXITING)) {
		record(EV_CLOSE, 0, task_pid_nr(current), 0);
	} else if (code & 0x7f) {
		record(EV_KILLED, 0, task_pid_nr(current), code & 0x7f);
	} else {
		record(EV_EXIT, 0, task_pid_nr(current), (code >> 8) & 0xff);
	}
	mutex_unlock(&video_lock);
	return 0;
}

static int video_release(struct inode *inode, struct file *file)
{
	if (file->f_mode & FMODE_WRITE) {
		mutex_lock(&video_lock);
		writers--;
		mutex_unlock(&video_lock);
		wake_up_all(&writers_gone);
	}
	kvfree(file->private_data);
	return 0;
}

static int decide(unsigned int request, unsigned long arg)
{
	switch (request) {
	case VIDEO_SET_STREAMTYPE:
		return state == STOPPED ? 0 : -EPERM;
	case VIDEO_SELECT_SOURCE:
		if (arg != VIDEO_SOURCE_DEMUX && arg != VIDEO_SOURCE_MEMORY)
			return -EINVAL;
		if (state != STOPPED)
			return -EPERM;
		source = arg;
		return 0;
	case VIDEO_PLAY:
		state = PLAYING;
		return 0;
	case VIDEO_FREEZE:
		if (state != PLAYING)
			return -EPERM;
		state = FROZEN;
		return 0;
	case VIDEO_CONTINUE:
		if (state == STOPPED)
			return -EPERM;
		state = PLAYING;
		return 0;
	case VIDEO_STOP:
		state = STOPPED;
		return 0;
	case VIDEO_CLEAR_BUFFER:
	case VIDEO_SET_BLANK:
		return 0;
	}
	return -ENOTTY;
}

static long video_ioctl(struct file *file, unsigned int request, unsigned long arg)
{
	struct video_status status = {};
	const struct request_name *name = known(request);
	int result;

	mutex_lock(&video_lock);
	if (!name) {
		record(EV_UNKNOWN, request, arg, -ENOTTY);
		mutex_unlock(&video_lock);
		return -ENOTTY;
	}
	if (request == VIDEO_GET_STATUS) {
		status.play_state = state == PLAYING ? VIDEO_PLAYING
				    : state == FROZEN ? VIDEO_FREEZED : VIDEO_STOPPED;
		status.stream_source = source;
		result = 0;
	} else {
		result = decide(request, arg);
	}
	record(EV_REQUEST, request, arg, result);
	mutex_unlock(&video_lock);
	if (request == VIDEO_GET_STATUS && copy_to_user((void __user *)arg, &status, sizeof status))
		return -EFAULT;
	return result;
}

static ssize_t video_write(struct file *file, const char __user *data, size_t count, loff_t *pos)
{
	size_t room, taken;
	int result = 0;

	mutex_lock(&video_lock);
	if (source != VIDEO_SOURCE_MEMORY || state != PLAYING) {
		result = -EPERM;
	} else {
		room = MAX_STREAM - stream_size;
		taken = min(count, room);
		if (copy_from_user(stream + stream_size, data, taken))
			result = -EFAULT;
		else {
			stream_size += taken;
			stream_lost += count - taken;
		}
	}
	record(EV_WRITE, 0, count, result);
	mutex_unlock(&video_lock);
	return result ? result : (ssize_t)count;
}

static const char *error_name(int error)
{
	switch (error) {
	case -EPERM:
		return "EPERM";
	case -EINVAL:
		return "EINVAL";
	case -ENOTTY:
		return "ENOTTY";
	case -EFAULT:
		return "EFAULT";
	}
	return "error";
}

static int format_event(char *line, size_t size, const struct event *e)
{
	const struct request_name *name;
	int n;

	switch (e->kind) {
	case EV_OPEN:
		return scnprintf(line, size, "open pid %lu\n", e->value);
	case EV_CLOSE:
		return scnprintf(line, size, "close pid %lu\n", e->value);
	case EV_EXIT:
		return scnprintf(line, size, "exit pid %lu status %d\n", e->value, e->result);
	case EV_KILLED:
		return scnprintf(line, size, "exit pid %lu signal %d\n", e->value, e->result);
	case EV_UNKNOWN:
		return scnprintf(line, size, "request 0x%08x refused ENOTTY\n", e->request);
	case EV_WRITE:
		n = scnprintf(line, size, "write %lu", e->value);
		break;
	case EV_REQUEST:
		name = known(e->request);
		n = name->with_argument ? scnprintf(line, size, "%s %lu", name->name, e->value)
					: scnprintf(line, size, "%s", name->name);
		break;
	default:
		return 0;
	}
	if (e->result)
		return n + scnprintf(line + n, size - n, " refused %s\n", error_name(e->result));
	return n + scnprintf(line + n, size - n, " ok\n");
}

struct snapshot {
	size_t size;
	char bytes[];
};

#define LINE_BYTES 64

static struct snapshot *take_snapshot(void)
{
	struct snapshot *s;
	size_t at, room;
	unsigned int i;

	/* The decoder's writer may still be at it: its picture is complete
	 * only once it let go. */
	wait_event_interruptible_timeout(writers_gone, READ_ONCE(writers) == 0, READER_WAIT);
	mutex_lock(&video_lock);
	room = 160 + (size_t)(event_count + 1) * LINE_BYTES + stream_size;
	s = kvmalloc(sizeof *s + room, GFP_KERNEL);
	if (s) {
		at = scnprintf(s->bytes, room, "e2e-video\n");
		for (i = 0; i < event_count; i++)
			at += format_event(s->bytes + at, LINE_BYTES, &events[i]);
		if (events_lost)
			at += scnprintf(s->bytes + at, LINE_BYTES, "lost %u events\n", events_lost);
		if (stream_lost)
			at += scnprintf(s->bytes + at, LINE_BYTES, "lost %zu bytes\n", stream_lost);
		at += scnprintf(s->bytes + at, LINE_BYTES, "stream %zu\n", stream_size);
		memcpy(s->bytes + at, stream, stream_size);
		s->size = at + stream_size;
	}
	mutex_unlock(&video_lock);
	return s;
}

static ssize_t video_read(struct file *file, char __user *data, size_t count, loff_t *pos)
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

static const struct file_operations video_fops = {
	.owner = THIS_MODULE,
	.open = video_open,
	.flush = video_flush,
	.release = video_release,
	.unlocked_ioctl = video_ioctl,
	.write = video_write,
	.read = video_read,
	.llseek = no_llseek,
};

static char *video_devnode(struct device *dev, umode_t *mode)
{
	return kasprintf(GFP_KERNEL, "dvb/adapter0/video0");
}

static int __init video_init(void)
{
	int err;

	stream = vmalloc(MAX_STREAM);
	if (!stream)
		return -ENOMEM;
	if (playing)
		state = PLAYING;
	video_dev = MKDEV(DVB_MAJOR_NUMBER, VIDEO_MINOR);
	err = register_chrdev_region(video_dev, 1, "DVB");
	if (err)
		goto no_region;
	cdev_init(&video_cdev, &video_fops);
	err = cdev_add(&video_cdev, video_dev, 1);
	if (err)
		goto no_cdev;
	dvb_class = class_create(THIS_MODULE, "dvb");
	if (IS_ERR(dvb_class)) {
		err = PTR_ERR(dvb_class);
		goto no_class;
	}
	dvb_class->devnode = video_devnode;
	video_device = device_create(dvb_class, NULL, video_dev, NULL, "dvb0.video0");
	if (IS_ERR(video_device)) {
		err = PTR_ERR(video_device);
		goto no_device;
	}
	return 0;

no_device:
	class_destroy(dvb_class);
no_class:
	cdev_del(&video_cdev);
no_cdev:
	unregister_chrdev_region(video_dev, 1);
no_region:
	vfree(stream);
	return err;
}

static void __exit video_exit(void)
{
	device_destroy(dvb_class, video_dev);
	class_destroy(dvb_class);
	cdev_del(&video_cdev);
	unregister_chrdev_region(video_dev, 1);
	vfree(stream);
}

module_init(video_init);
module_exit(video_exit);
MODULE_LICENSE("GPL");
MODULE_DESCRIPTION("The emulated box's video decoder: answers and records DVB video requests");
