#pragma once
// Every period of the console, from one place. The product runs with the defaults; tests shorten
// them so that a three-second window passes in a few milliseconds instead of being waited out.

namespace nms {

struct Timing {
    int replyMs = 3000; // timerRemoteSent: an element's answer to a ConfigWrite
    int macWindowMs = 5000; // timerGetMAC: how long one answer's MAC address is looked for
    int macRetryMs = 20; // between two looks at the neighbour table
    int solicitAgainMs = 1000; // an address the kernel has not resolved is asked for again
    int discoveryMs = 3000; // Timer1: how long a discovery collects answers
    int discoveryBatchMs = 50; // answers recorded within this long share one rewrite
    int echoWaitMs = 1000; // one echo request's wait
    int retryTickMs = 1000; // tmrRetryPing: one step of the countdown after a time-out
    int levelPeriodMs = 50; // tmrVolume: one level query
    int guardWaitMs = 1000; // how long a new address may take to answer before it is sent
    int alarmBatchMs = 1000; // alarms within this long make one message

    // Every period divided by `factor` (at least 1 ms), for tests.
    static Timing Fast(int factor = 100)
    {
        Timing t;
        for (int* period : {&t.replyMs, &t.macWindowMs, &t.macRetryMs, &t.solicitAgainMs, &t.discoveryMs,
                            &t.discoveryBatchMs, &t.echoWaitMs, &t.retryTickMs, &t.levelPeriodMs, &t.guardWaitMs,
                            &t.alarmBatchMs})
            *period = *period / factor > 0 ? *period / factor : 1;
        return t;
    }
};

} // namespace nms
