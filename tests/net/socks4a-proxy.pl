#!/usr/bin/perl
# A SOCKS 4 / 4a proxy for the tests, built on IO::Socket::Socks (Debian's
# libio-socket-socks-perl): danted speaks SOCKS 4 but not the 4a host-name form.
# Usage: socks4a-proxy.pl PORT. Listens on 127.0.0.1 and relays only to loopback targets.
use strict;
use warnings;
use IO::Select;
use IO::Socket::INET;
use IO::Socket::Socks qw(:constants $SOCKS_ERROR);
use Socket qw(inet_aton inet_ntoa);

$SIG{CHLD} = 'IGNORE';
my $port = shift or die "usage: $0 PORT\n";
my $server = IO::Socket::Socks->new(
  ProxyAddr => '127.0.0.1', ProxyPort => $port, Listen => 16,
  SocksVersion => 4, SocksResolve => 1, ReuseAddr => 1,
) or die "socks4a-proxy: $SOCKS_ERROR\n";

while (1) {
  my $client = $server->accept() or next;
  my $pid = fork();
  if (!defined $pid || $pid > 0) { close $client; next; }
  close $server;
  my $command = $client->command() or exit 0;
  my (undef, $host, $dport) = @$command;
  my $packed = inet_aton($host);
  my $address = $packed ? inet_ntoa($packed) : '';
  my $target;
  $target = IO::Socket::INET->new(PeerAddr => $address, PeerPort => $dport, Proto => 'tcp')
    if $address =~ /^127\./;
  if (!$target) {
    $client->command_reply(REQUEST_FAILED, '0.0.0.0', 0);
    exit 0;
  }
  $client->command_reply(REQUEST_GRANTED, $address, $dport);
  my $select = IO::Select->new($client, $target);
  RELAY: while (1) {
    for my $from ($select->can_read()) {
      my $to = $from == $client ? $target : $client;
      my $n = sysread($from, my $buffer, 65536);
      last RELAY if !$n;
      my $off = 0;
      while ($off < $n) {
        my $w = syswrite($to, $buffer, $n - $off, $off);
        last RELAY if !defined $w;
        $off += $w;
      }
    }
  }
  exit 0;
}
