package mt4bridge.broker;

import java.io.File;
import java.util.ArrayList;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;

import org.apache.activemq.broker.BrokerPlugin;
import org.apache.activemq.broker.BrokerService;
import org.apache.activemq.broker.region.policy.IndividualDeadLetterStrategy;
import org.apache.activemq.broker.region.policy.PolicyEntry;
import org.apache.activemq.broker.region.policy.PolicyMap;
import org.apache.activemq.security.AuthenticationUser;
import org.apache.activemq.security.SimpleAuthenticationPlugin;
import org.apache.activemq.store.kahadb.KahaDBPersistenceAdapter;

/**
 * The test and benchmark broker: ActiveMQ Classic started in-process with an
 * AMQP 1.0 and an OpenWire connector on the loopback interface, a persistent
 * KahaDB store in the folder the caller names, no JMX and no web console.
 *
 * Arguments: data-dir amqp-port openwire-port [user password] [key=value ...].
 * With a user and password every client must authenticate (SASL PLAIN on
 * AMQP). Each key=value argument turns on one further feature; an unknown
 * key stops the launcher (exit 2) rather than start a broker the caller did
 * not ask for.
 * Runs until the process is terminated; the shutdown hook stops the broker
 * cleanly so the store is consistent for the next start.
 */
public final class EmbeddedBroker {
    private EmbeddedBroker() {}

    public static void main(String[] args) throws Exception {
        List<String> positional = new ArrayList<>();
        Map<String, String> options = new LinkedHashMap<>();
        for (String arg : args) {
            int eq = arg.indexOf('=');
            if (positional.size() >= 3 && eq > 0) {
                options.put(arg.substring(0, eq), arg.substring(eq + 1));
            } else {
                positional.add(arg);
            }
        }
        if (positional.size() != 3 && positional.size() != 5) {
            System.err.println("usage: EmbeddedBroker data-dir amqp-port openwire-port [user password] [key=value ...]");
            System.exit(2);
        }
        File dataDir = new File(positional.get(0)).getAbsoluteFile();
        int amqpPort = Integer.parseInt(positional.get(1));
        int openwirePort = Integer.parseInt(positional.get(2));

        BrokerService broker = new BrokerService();
        broker.setBrokerName("mt4bridge");
        broker.setDataDirectoryFile(dataDir);
        broker.setPersistent(true);
        broker.setUseJmx(false);
        broker.setSchedulerSupport(false);
        broker.setUseShutdownHook(true);

        KahaDBPersistenceAdapter store = new KahaDBPersistenceAdapter();
        store.setDirectory(new File(dataDir, "kahadb"));
        broker.setPersistenceAdapter(store);

        // Small limits: the broker runs beside the tests in a small heap.
        broker.getSystemUsage().getMemoryUsage().setLimit(64L * 1024 * 1024);
        broker.getSystemUsage().getStoreUsage().setLimit(1024L * 1024 * 1024);
        broker.getSystemUsage().getTempUsage().setLimit(256L * 1024 * 1024);

        // AMQP messages are mapped to JMS ones (an AMQP string body is a
        // TextMessage for OpenWire clients); see the amqp connector below.
        // A message that fails delivery repeatedly goes to its own
        // DLQ.<queue> instead of circling for ever.
        PolicyEntry queues = new PolicyEntry();
        queues.setQueue(">");
        IndividualDeadLetterStrategy dlq = new IndividualDeadLetterStrategy();
        dlq.setQueuePrefix("DLQ.");
        dlq.setUseQueueForQueueMessages(true);
        queues.setDeadLetterStrategy(dlq);
        PolicyMap policies = new PolicyMap();
        policies.setDefaultEntry(queues);
        broker.setDestinationPolicy(policies);

        if (positional.size() == 5) {
            List<AuthenticationUser> users = new ArrayList<>();
            users.add(new AuthenticationUser(positional.get(3), positional.get(4), "users"));
            SimpleAuthenticationPlugin auth = new SimpleAuthenticationPlugin(users);
            auth.setAnonymousAccessAllowed(false);
            broker.setPlugins(new BrokerPlugin[] {auth});
        }

        broker.addConnector("amqp://127.0.0.1:" + amqpPort
                + "?maximumConnections=1000&transport.transformer=jms&transport.tcpNoDelay=true");
        broker.addConnector("tcp://127.0.0.1:" + openwirePort + "?transport.tcpNoDelay=true");

        // Options are taken off the map as they are applied; what is left is
        // a key no block knows.
        if (!options.isEmpty()) {
            System.err.println("EmbeddedBroker: unknown option(s) " + options.keySet());
            System.exit(2);
        }

        broker.start();
        broker.waitUntilStarted();
        System.out.println("broker started amqp=" + amqpPort + " openwire=" + openwirePort);
        System.out.flush();
        broker.waitUntilStopped();
    }
}
