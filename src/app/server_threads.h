// The long-lived server threads of the engine, started in order right after
// the banner: RTSP engine, ONVIF HTTP, WS-Discovery, web panel, live-settings
// watcher. Each subsystem has one block in server_threads.cpp.
#pragma once

#include "app/startup.h"

void start_subsystems(StartupValues& v);
