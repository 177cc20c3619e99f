#include "capture_command.h"

namespace ombrix_capture {

CLI::App* AddRecordCommand(CLI::App& app, RecordOptions* options) {
  CLI::App* command = app.add_subcommand(
      "record", "record sACN and Art-Net (and interface input) to a pcap file Wireshark opens, until Ctrl-C");
  command->add_option("FILE", options->file, "the pcap file to write")->required();
  command->add_option("--universe", options->universes,
                      "record only sacn:U or artnet:NET:SUB:UNI (repeatable; default: every universe)");
  command->add_option("--in", options->ins, "SERIAL=sacn:U: record the interface's DMX input as sACN universe U");
  command->add_option("--mode", options->mode, "mode of the interfaces named by --in (default 0)")
      ->check(CLI::Range(0, 255));
  command->add_option("--allow", options->allow, "record only senders in these CIDR blocks")->expected(1, -1);
  command->add_option("--bind", options->bind, "IPv4 address of the network interface to listen on (default: all)");
  command->add_option("--sacn-port", options->sacnPort, "sACN UDP port (default 5568)")->check(CLI::Range(1, 65535));
  command->add_option("--artnet-port", options->artnetPort, "Art-Net UDP port (default 6454)")
      ->check(CLI::Range(1, 65535));
  command->add_flag("--unicast-only", options->unicastOnly, "join no multicast group");
  command->add_option("--seconds", options->seconds, "end after this long (default: Ctrl-C or SIGTERM)");
  command->add_option("--max-bytes", options->maxBytes, "end (or with --rotate, start the next file) at this size");
  command->add_flag("--rotate", options->rotate, "at --max-bytes go on in FILE-0002.pcap, -0003 ... (FILE-0001 first)");
  command->add_option("--rotate-seconds", options->rotateSeconds, "start the next numbered file after this long");
  command->add_option("--status-seconds", options->statusSeconds, "status line every this long (default 10; 0: none)");
  return command;
}

CLI::App* AddPlayCommand(CLI::App& app, PlayOptions* options) {
  CLI::App* command =
      app.add_subcommand("play", "play pcap/pcapng captures of sACN and Art-Net to interfaces or the network");
  command->add_option("FILE", options->files, "capture files, played one after the other")->required();
  command->add_option("--out", options->outs,
                      "SERIAL=sacn:U or SERIAL=artnet:NET:SUB:UNI: recorded universe -> output");
  command->add_option("--send", options->sends,
                      "UNIVERSE[=UNIVERSE]: re-send a recorded universe on the network as this node (as another "
                      "universe after =)");
  command->add_flag("--loop", options->loop, "play again from the in point at the end, until Ctrl-C");
  command->add_option("--speed", options->speed, "play faster (2) or slower (0.5); default 1");
  command->add_option("--from", options->from, "in point: seconds or mm:ss from the start of the capture");
  command->add_option("--to", options->to, "out point: seconds or mm:ss");
  CLI::Option* hold = command->add_flag("--hold-last", options->holdLast,
                                        "at the end keep the last look until Ctrl-C (default: end at once)");
  command->add_flag("--blackout", options->blackout, "at the end send zeros for a second, then end")->excludes(hold);
  command->add_option("--mode", options->mode, "mode of the interfaces named by --out (default 2)")
      ->check(CLI::Range(0, 255));
  command->add_option("--bind", options->bind, "address of the network interface to send from (default: all)");
  command->add_option("--sacn-target", options->sacnTargets, "also send sACN to ADDRESS[:PORT] (repeatable)");
  command->add_option("--artnet-target", options->artnetTargets, "send ArtDmx to ADDRESS[:PORT] (repeatable)");
  command->add_flag("--unicast-only", options->unicastOnly, "send no multicast (targets only)");
  command->add_option("--priority", options->priority, "sACN priority of the universes sent (default 100)")
      ->check(CLI::Range(0, 200));
  command->add_option("--allow", options->allow, "play only senders in these CIDR blocks")->expected(1, -1);
  command->add_option("--sacn-port", options->sacnPorts, "also take UDP to this port in the files as sACN")
      ->check(CLI::Range(1, 65535));
  command->add_option("--artnet-port", options->artnetPorts, "also take UDP to this port in the files as Art-Net")
      ->check(CLI::Range(1, 65535));
  command->add_option("--status-seconds", options->statusSeconds, "status line every this long (default 10; 0: none)");
  return command;
}

}  // namespace ombrix_capture
