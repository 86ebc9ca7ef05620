// Opening the service configurator from the host's command line.
//
// The host's argument vector also carries the host's own options; this
// builds a vector holding only the service configurator's options, with one
// addition: "-f DIR" naming a directory stands for every regular file in it
// whose name ends in ".conf", in byte order of the full paths, each passed
// as a "-f FILE" of its own.
//
// Translation:
//   -b -d -n -y              passed on
//   -k KEY -p FILE -s SIG -S DIRECTIVE
//                            passed on, the argument as one word
//   -f PATH                  PATH a directory: -f for each "conf" file in
//                            it; otherwise passed on unchanged
//   --thread-pool ARG        dropped
//   anything else            dropped (host options, unknown options, words)

#ifndef STARTER_OPEN_SERVICE_CONFIG_H
#define STARTER_OPEN_SERVICE_CONFIG_H

#include <ace/ARGV.h>
#include <ace/Dirent.h>
#include <ace/Get_Opt.h>

#include <deque>
#include <string>

// The configurator's argument vector. ACE_ARGV keeps pointers to the words
// it is given rather than copies, so the words are stored here, at stable
// addresses, for as long as the vector lives.
class Service_Args {
 public:
  Service_Args() : args_(true) {}  // environment references substituted

  // Appends one word; `quote` keeps a word with blanks as one word.
  void add(const std::string& word, bool quote = false) {
    words_.push_back(word);
    args_.add(words_.back().c_str(), quote);
  }

  int argc() const { return args_.argc(); }
  char** argv() { return args_.argv(); }

 private:
  std::deque<std::string> words_;
  ACE_ARGV args_;
};

// Appends "-f" and a path for every configuration file of the directory
// `path`, or "-f" and `path` itself when it cannot be opened as one.
void add_config_files(Service_Args& args, const char* path);

// Builds the configurator's argument vector from `argv` (read, never
// changed) and returns what `open_service(argc, argv)` returns. With
// `skip_first_arg` argument 0 is the program name and becomes the first
// word; otherwise every argument is parsed and the first word is "dummy".
template <typename F>
bool open_service_config(int argc, char** argv, bool skip_first_arg, F open_service) {
  Service_Args args;
  ACE_Get_Opt opt(argc, argv, "bdf:k:nyp:s:S:", skip_first_arg ? 1 : 0, 0,
                  ACE_Get_Opt::RETURN_IN_ORDER, 0);
  opt.long_option("thread-pool", ACE_Get_Opt::ARG_REQUIRED);

  if (skip_first_arg && argc > 0) {
    args.add(argv[0], true);
  } else {
    args.add("dummy");
  }

  for (int c; (c = opt()) != EOF;) {
    switch (c) {
      case 'b':
        args.add("-b");
        break;
      case 'd':
        args.add("-d");
        break;
      case 'n':
        args.add("-n");
        break;
      case 'y':
        args.add("-y");
        break;
      case 'k':
      case 'p':
      case 's':
      case 'S': {
        args.add(std::string(1, '-') + static_cast<char>(c));
        args.add(opt.opt_arg(), true);
        break;
      }
      case 'f':
        add_config_files(args, opt.opt_arg());
        break;
      default:
        break;  // thread-pool, host options, words, errors
    }
  }
  return open_service(args.argc(), args.argv());
}

#endif
