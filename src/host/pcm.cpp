#include "host/pcm.h"

#include "engine/AbstractChubEngine.h"
#include "host/grax.h"

unsigned int rate = 22050;
unsigned int periods = 2;
unsigned int periodsize = 1024;
unsigned long frames = 256;
unsigned char* data = nullptr;
snd_pcm_t* playback_handle = nullptr;

void open_pcm() {}
void pcm_runnus() {}
void pcm_closz() {}
